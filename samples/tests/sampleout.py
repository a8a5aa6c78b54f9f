"""The generator's output for the sample tests: one run shared by both test
modules, made at first use, and a second run for the determinism check."""

import atexit
import os
import shutil
import subprocess
import sys
import tempfile

SAMPLES = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINDOWS_PATH = "Z:\\samples\\out"
_runs = []
atexit.register(lambda: [shutil.rmtree(os.path.dirname(out), ignore_errors=True) for out in _runs])


def output(run=0):
    while len(_runs) <= run:
        out = os.path.join(tempfile.mkdtemp(prefix="qx3samples-"), "out")
        subprocess.run([sys.executable, os.path.join(SAMPLES, "gensamples.py"), "--out", out,
                        "--clang", os.environ.get("QX3_CLANG", "clang"), "--windows-path", WINDOWS_PATH],
                       check=True, timeout=60)
        _runs.append(out)
    return _runs[run]


def path(rel, run=0):
    return os.path.join(output(run), *rel.split("/"))


def read(rel, run=0):
    with open(path(rel, run), "rb") as f:
        return f.read()


def files_below(rel, run=0):
    """Paths relative to `rel`, "/"-separated, of the files under it."""
    root = path(rel, run)
    return {os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
            for d, _, files in os.walk(root) for f in files}
