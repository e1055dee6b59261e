"""What the module's tests share: the programs of the build, the scenes, a temporary folder.

The build's test (ctest -R python_module) sets TESSLOOM_BINARY, TESSLOOM_INSPECT_BINARY
and TESSLOOM_CORPUS_DIR, and PYTHONPATH to the module's build folder; run by hand, the
release build and the corpus beside the work tree are taken.
"""
import json
import os
import pathlib
import subprocess

import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = SOURCE_DIR / "build" / "release"
TOOL = os.environ.get("TESSLOOM_BINARY") or str(BUILD_DIR / "tessloom")
INSPECTOR = os.environ.get("TESSLOOM_INSPECT_BINARY",
                           str(BUILD_DIR / "tessloom-inspect"))
CORPUS = pathlib.Path(
    os.environ.get("TESSLOOM_CORPUS_DIR") or SOURCE_DIR.parent / "shared" / "corpus" / "ase")
BOX = SOURCE_DIR / "examples" / "box.ase"


def scene_params():
    """box.ase and every corpus scene, one parameter each; the corpus rows skip without it."""
    params = [pytest.param(BOX, id="box.ase")]
    scenes = sorted(p for p in CORPUS.glob("*") if p.suffix.lower() == ".ase") \
        if CORPUS.is_dir() else []
    params += [pytest.param(p, id=p.name) for p in scenes]
    if not scenes:
        params.append(pytest.param(None, id="corpus",
                                   marks=pytest.mark.skip(reason=f"no corpus at {CORPUS}")))
    return params


class Run:
    """One run of a program: its exit status and its standard error's lines."""

    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout
        self.lines = completed.stderr.decode("utf-8", "replace").splitlines()


def run(program, *args, cwd=None):
    return Run(subprocess.run([program, *map(str, args)], cwd=cwd, capture_output=True,
                              check=False))


def tool(*args, cwd=None):
    return run(TOOL, *args, cwd=cwd)


def without_prefix(lines, prefix):
    """Lines of a program's standard error with its name taken off, as the module gives them."""
    assert all(line.startswith(prefix) for line in lines), lines
    return [line[len(prefix):] for line in lines]


@pytest.fixture
def inspector():
    """Runs tessloom-inspect; the test skips where it was not built."""
    if not INSPECTOR or not os.access(INSPECTOR, os.X_OK):
        pytest.skip("tessloom-inspect was not built")

    def inspect(*args):
        return run(INSPECTOR, *args)

    return inspect


def inspect_json(inspect, *args):
    """The inspector's JSON; its status is 1 when a check or the scene has findings."""
    got = inspect("--json", *args)
    assert got.status in (0, 1) and got.stdout, got.lines
    return json.loads(got.stdout)
