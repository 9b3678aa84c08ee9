"""The command line every test of built programs takes from CMake."""
import argparse
import os
import shutil


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
