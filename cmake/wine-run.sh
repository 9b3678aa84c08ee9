#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix that the build tree owns, so that tests neither
# need nor touch the user's ~/.wine:
#   wine-run.sh STATE_DIR PROGRAM.exe [ARGS...]
#   wine-run.sh STATE_DIR --stop      (ends the prefix's server and its services)
# STATE_DIR/prefix is the Wine prefix, made on first use; drive D: is STATE_DIR/drive-d, so that
# the module's fixed log "D:\DIAGNOSE.TXT" lands in a scratch folder the tests can read.
set -euo pipefail

state=$1
shift
mkdir -p "$state/drive-d"
state=$(cd "$state" && pwd)

export WINEPREFIX="$state/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, and no window: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if [ "${1:-}" = --stop ]; then
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
  exit 0
fi

# Several test programs may start at once (test discovery during a parallel build): one makes
# the prefix and starts the server, the others wait for it under the lock.
exec 9>"$state/prefix.lock"
flock 9
if [ ! -e "$WINEPREFIX/quorb-ready" ]; then
  rm -rf "$WINEPREFIX"
  wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  wineserver -w
  [ -d "$WINEPREFIX/dosdevices" ] || { echo "wine-run.sh: could not make $WINEPREFIX" >&2; exit 1; }
  ln -sfn "$state/drive-d" "$WINEPREFIX/dosdevices/d:"
  touch "$WINEPREFIX/quorb-ready"
fi
# One server for all programs, with the session's services (services.exe, winedevice.exe, ...)
# started here with no stdio: a program that starts them hands them its own stdout, and its
# caller (ctest, test discovery) then waits for them to leave, which they do only when the
# server stops (--stop, the last test). wineserver answers 2 when a server already runs.
if wineserver -p 30 </dev/null >/dev/null 2>&1; then
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
flock -u 9
exec 9>&-

exec wine "$@"
