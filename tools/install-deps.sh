#!/usr/bin/env bash
# Installs what the build and the tests need on Debian (12 or 13), if anything is missing: the
# native toolchain and GoogleTest, the tests' referees (mido, rsvg-convert, and Chromium, a
# browser engine for the picture page), MinGW-w64 for the 32-bit Windows module file, and 32-bit
# Wine to run its tests. Where the kernel cannot start 32-bit programs (some virtual machines),
# 32-bit Wine runs under qemu's user-mode emulation, registered for i386 programs here. Packages
# come from the machine's own configured Debian sources; nothing here names a mirror.
set -euo pipefail

packages=(g++ make cmake libgtest-dev googletest libcli11-dev python3-mido valgrind time
  python3-pefile git clang librsvg2-bin chromium
  g++-mingw-w64-i686 wine wine32
  wine64)

as_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "This needs root: run as root, or run by hand:" >&2
    echo "  $*" >&2
    exit 1
  fi
  "$@"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

updated=no
apt_update_once() {
  [ "$updated" = yes ] && return 0
  as_root apt-get update
  updated=yes
}

apt_install() {
  apt_update_once
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"
}

install_missing() {
  local missing=()
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_install "${missing[@]}"
}

# wine32 is an i386 package.
dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
install_missing "${packages[@]}"
# libFuzzer's runtime for the clang that is installed (clang 14 on Debian 12, 19 on 13).
clang_major=$(clang -dumpversion | cut -d. -f1)
install_missing "libclang-rt-${clang_major}-dev"

# Can this machine start a 32-bit x86 program? wine32 brings one.
probe=/usr/lib/wine/wineserver32
runs_32bit() { "$probe" --version >/dev/null 2>&1; }
runs_32bit && exit 0

echo "This kernel does not start 32-bit programs: setting up qemu user-mode emulation for them."
# Wine needs MAP_FIXED_NOREPLACE to be honoured, which qemu does from 8.1 on. Debian 13 has it;
# Debian 12 has it in its backports suite, taken from the mirror the machine already uses.
at_least_8_1() { [ -n "$1" ] && [ "$1" != "(none)" ] && dpkg --compare-versions "$1" ge 1:8.1; }
qemu_version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
if ! at_least_8_1 "$qemu_version"; then
  apt_update_once
  release=()
  candidate=$(apt-cache policy qemu-user-static | awk '/Candidate:/ { print $2 }')
  if ! at_least_8_1 "$candidate"; then
    . /etc/os-release
    backports="${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}-backports"
    targets() { apt-get indextargets --format '$(SITE) $(RELEASE) $(TARGET_OF)'; }
    if ! targets | awk -v r="$backports" '$2 == r' | grep -q .; then
      site=$(targets | awk -v r="$VERSION_CODENAME" '$2 == r && $3 == "deb" { print $1; exit }')
      [ -n "$site" ] || { echo "No configured Debian source for $VERSION_CODENAME." >&2; exit 1; }
      echo "Adding $backports from $site, the machine's own Debian source."
      as_root sh -c "echo 'deb $site $backports main' > /etc/apt/sources.list.d/$backports.list"
      as_root apt-get update
    fi
    release=(-t "$backports")
  fi
  apt_install "${release[@]}" qemu-user-static
fi

qemu=$(command -v qemu-i386-static || command -v qemu-i386)
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt"
# A stale entry may point at an older qemu: replace it. The F flag opens the interpreter now, so
# the registration holds inside containers and chroots as well.
[ -e "$binfmt/quorb-i386" ] && as_root sh -c "echo -1 > $binfmt/quorb-i386"
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
as_root sh -c "printf '%s' ':quorb-i386:M::$magic:$mask:$qemu:F' > $binfmt/register"

runs_32bit || { echo "32-bit programs still do not start; the Windows tests cannot run." >&2; exit 1; }
echo "32-bit programs now run under $qemu."
