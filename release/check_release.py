#!/usr/bin/python3
"""After `make dist`: the archive unpacked into a non-ASCII folder and used as a Windows user
would, in a fresh Wine prefix; and the same archive from a build of a copy in another folder."""
import filecmp
import os
import pathlib
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

import pefile

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "testing"))
from mido_reading import channel_messages  # noqa: E402  (mido's reading, tempo map applied)

VERSION = re.search(r"project\(QUORB_REC_M VERSION ([\d.]+)",
                    (ROOT / "CMakeLists.txt").read_text())[1]
ZIP = f"build/dist/quorb-recorder-{VERSION}-win32.zip"
CHECK = ROOT / "build/dist-check"
HOME = CHECK / "Aufnahmen 録音"  # the programs; the takes go to a folder of their own, so that
TAKES = HOME / "Proben"  # quorb-host has to find the module beside itself
PROGRAMS = ["QUORB_REC_M.sem", "quorb.exe", "quorb-host.exe"]


def run(*command, cwd=ROOT, **env):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300,
                          stdin=subprocess.DEVNULL, env=dict(os.environ, LC_ALL="C.UTF-8", **env))
    assert done.returncode == 0, f"{command} exited {done.returncode}:\n{done.stdout}{done.stderr}"
    return done.stdout


def wine(program, *arguments, cwd=TAKES):
    return run(ROOT / "cmake/wine-run.sh", CHECK / "wine", program, *arguments, cwd=cwd)


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(CHECK, ignore_errors=True)
        TAKES.mkdir(parents=True)
        with zipfile.ZipFile(ROOT / ZIP) as archive:
            cls.names = archive.namelist()
            archive.extractall(HOME)

    @classmethod
    def tearDownClass(cls):
        wine("--stop")

    def test_contents_and_version_resources(self):
        self.assertEqual(PROGRAMS + ["README.txt", "LICENSE", "SHA256SUMS"], self.names)
        self.assertEqual(5, run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=HOME)
                         .count(": OK"))
        readme = (HOME / "README.txt").read_bytes()
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "README.txt needs CR LF")
        major, minor, patch = map(int, VERSION.split("."))
        for program in PROGRAMS:
            pe = pefile.PE(HOME / program)
            fixed = pe.VS_FIXEDFILEINFO[0]
            text = {k.decode(): v.decode() for info in pe.FileInfo[0]
                    if info.Key == b"StringFileInfo"
                    for table in info.StringTable for k, v in table.entries.items()}
            self.assertEqual(  # no link time, no symbols, the one version everywhere
                [0, 0, major << 16 | minor, patch << 16, VERSION, VERSION, "QUORB recorder",
                 program, True, True],
                [pe.FILE_HEADER.TimeDateStamp, pe.FILE_HEADER.NumberOfSymbols,
                 fixed.FileVersionMS, fixed.FileVersionLS, text.get("FileVersion"),
                 text.get("ProductVersion"), text.get("ProductName"), text.get("OriginalFilename"),
                 bool(text.get("FileDescription")),
                 "QUORB recorder developers" in text.get("LegalCopyright", "")], program)

    def test_versions_recording_and_drop(self):
        for program in PROGRAMS[1:]:
            self.assertEqual(f"{program[:-4]} {VERSION}\n", wine(HOME / program, "--version"))
        shutil.copy(ROOT / "tools/demo/phrase.mid", TAKES)
        wine(HOME / "quorb-host.exe", "record", "phrase.mid", "Käse 録音.quorb")
        # Explorer hands a dropped file over as a full Windows path (Wine's drive Z: is /).
        self.assertIn("44100", wine(HOME / "quorb.exe", "Z:" + str(TAKES / "Käse 録音.quorb")
                                    .replace("/", "\\"), cwd=HOME))
        want, got = (channel_messages(TAKES / name) for name in ("phrase.mid", "Käse 録音.mid"))
        self.assertEqual([m for _, m in want], [m for _, m in got])
        for (want_at, message), (got_at, _) in zip(want, got):  # within a tick: 960 ppq, 120 bpm
            self.assertLessEqual(abs(want_at - got_at), 60 / (120 * 960), f"{message} {got_at}")

    def test_build_elsewhere_gives_the_same_archive(self):
        copy = CHECK / "elsewhere/quorb"
        run("sh", "-c", f'mkdir -p "{copy}" && git ls-files -z | xargs -0 cp --parents -t "{copy}"')
        epoch = run("git", "log", "-1", "--format=%ct").strip()  # one stamp, whatever git sees there
        run("cmake", "--preset", "win32-release", cwd=copy)
        run("cmake", "--build", "--preset", "win32-release", cwd=copy, SOURCE_DATE_EPOCH=epoch)
        self.assertTrue(filecmp.cmp(ROOT / ZIP, copy / ZIP, shallow=False), "archives differ")


if __name__ == "__main__":
    unittest.main(verbosity=2)
