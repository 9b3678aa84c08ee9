"""The command line every test of built programs takes from CMake, and how they run one."""
import argparse
import os
import shutil
import subprocess


def program_args(*required):
    """Each option of `required` (e.g. "--quorb"), --work DIR (emptied here) and --emulator
    'CMD|ARG|...' (Windows programs run under it; split into a list). Returns the arguments and
    the words left over, for unittest."""
    parser = argparse.ArgumentParser()
    for option in (*required, "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    args.emulator = [part for part in args.emulator.split("|") if part]
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    return args, rest


def run_program(command, work, code=0, says=None):
    """Runs `command` in the folder `work`; checks its exit code (None: any but a crash) and that
    its output says `says`. Returns the finished process, its output decoded as `text`."""
    done = subprocess.run(command, cwd=work, capture_output=True, timeout=300,
                          stdin=subprocess.DEVNULL)
    done.text = (done.stdout + done.stderr).decode("utf-8", "replace")
    if code is None:
        assert 0 <= done.returncode < 128, f"{command}: a crash, not an error exit:\n{done.text}"
    else:
        assert done.returncode == code, \
            f"{command}: exit {done.returncode}, not {code}:\n{done.text}"
    assert says is None or says in done.text, f"{command}: no {says!r} in:\n{done.text}"
    return done
