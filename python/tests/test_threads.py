"""The interpreter's lock is let go while the module reads, converts, encodes and writes, so
threads run at once, and conversions on two threads at once give the same bytes."""
import subprocess
import sys
import threading

import pytest

import tessloom
from conftest import BOX, tool


def grid_scene(side):
    """A scene of one mesh: a square grid of side x side vertices, two faces a cell."""
    lines = [b'*GEOMOBJECT {', b'*NODE_NAME "grid"', b"*MESH {",
             b"*MESH_NUMVERTEX %d" % (side * side),
             b"*MESH_NUMFACES %d" % (2 * (side - 1) ** 2)]
    lines += [b"*MESH_VERTEX %d %d.5 %d.25 0.125" % (y * side + x, x, y)
              for y in range(side) for x in range(side)]
    face = 0
    for y in range(side - 1):
        for x in range(side - 1):
            v = y * side + x
            for a, b, c in ((v, v + 1, v + side + 1), (v, v + side + 1, v + side)):
                lines.append(b"*MESH_FACE %d: A: %d B: %d C: %d *MESH_SMOOTHING 1 *MESH_MTLID 0"
                             % (face, a, b, c))
                face += 1
    return b"\n".join(lines + [b"}", b"}", b""])


def runs_without_the_lock(call):
    """Whether another thread ran while `call` was inside the module. With a switch interval
    longer than the test, the thread running `call` gives the lock up only where it waits or
    where the module lets it go: this thread, waiting for it to start, wakes up either inside
    the call or after it."""
    inside = {"returned": False}
    started = threading.Event()

    def target():
        started.set()
        call()
        inside["returned"] = True

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        thread = threading.Thread(target=target)
        thread.start()
        started.wait()
        ran_inside = not inside["returned"]
    finally:
        sys.setswitchinterval(interval)
    thread.join()
    return ran_inside


@pytest.fixture(scope="module")
def grid(tmp_path_factory):
    """A grid scene of 80,000 faces and its mesh file, as the tool converts it."""
    folder = tmp_path_factory.mktemp("grid")
    scene = folder / "grid.ase"
    scene.write_bytes(grid_scene(201))
    assert tool(scene, folder / "grid.obj").status == 0
    return scene, folder / "grid.obj"


def calls(scene, mesh_file):
    """Each call of the module, its arguments made beforehand so that only the call itself
    runs on the thread."""
    scene_text, file_bytes = scene.read_bytes(), mesh_file.read_bytes()
    mesh, saved = tessloom.read(mesh_file), mesh_file.with_name("saved.obj")
    return {
        "convert a path": lambda: tessloom.convert(scene),
        "convert text": lambda: tessloom.convert(scene_text),
        "convert each": lambda: tessloom.convert_each(scene),
        "read a path": lambda: tessloom.read(mesh_file),
        "read bytes": lambda: tessloom.read(file_bytes),
        "encode": mesh.to_bytes,
        "save": lambda: mesh.save(saved),
    }


@pytest.mark.parametrize("name", ["convert a path", "convert text", "convert each",
                                  "read a path", "read bytes", "encode", "save"])
def test_the_lock_is_let_go_inside_the_module(name, grid):
    # a call that holds the lock never lets this thread in; one that lets it go lets it in
    # unless the call ends before this thread is woken, which a few tries rule out
    call = calls(*grid)[name]
    assert any(runs_without_the_lock(call) for _ in range(5))


def test_two_threads_converting_at_once_give_the_tools_bytes(grid):
    scene, mesh_file = grid
    expected = mesh_file.read_bytes()
    text = scene.read_bytes()
    results = {}
    barrier = threading.Barrier(2)

    def convert(key, source, **arguments):
        barrier.wait()
        for round_ in range(3):
            results[key, round_] = tessloom.convert(source, **arguments).to_bytes()

    threads = [threading.Thread(target=convert, args=("path", scene)),
               threading.Thread(target=convert, args=("text", text))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 6
    assert all(value == expected for value in results.values())


FORKED = """
import multiprocessing, sys, threading
import tessloom
scene = open(sys.argv[1], "rb").read()
expected = tessloom.convert(scene).to_bytes()
def child(queue):
    queue.put(tessloom.convert(scene).to_bytes() == expected)
context = multiprocessing.get_context("fork")
queue = context.Queue()
# one fork while a thread of the parent converts, its lock let go
busy = threading.Thread(target=lambda: [tessloom.convert(scene) for _ in range(20)])
busy.start()
children = [context.Process(target=child, args=(queue,)) for _ in range(3)]
for c in children:
    c.start()
print(*[queue.get(timeout=60) for _ in children], *[c.join() or c.exitcode for c in children])
busy.join()
"""
SUB_INTERPRETER = """
import sys, _xxsubinterpreters as interpreters
if sys.argv[2] == "main first":
    import tessloom
interpreter = interpreters.create()
try:
    interpreters.run_string(interpreter, "import tessloom; tessloom.convert(b'*MESH_NUMVERTEX -1')")
except interpreters.RunFailedError as e:
    print(e)
interpreters.destroy(interpreter)
import tessloom
print(len(tessloom.convert(open(sys.argv[1], "rb").read()).vertices))
"""
REFUSED_THERE = ("<class 'ImportError'>: tessloom cannot be used in a sub-interpreter, only in "
                 "the main one")
# A script in an interpreter of its own, and what it prints: children forked after the
# import convert as their parent; a sub-interpreter is refused, whichever interpreter
# imports the module first, and the main one goes on (box.ase has 8 vertices).
ELSEWHERE = [
    ("forked children", FORKED, [], "True True True 0 0 0"),
    ("a sub-interpreter after the main one", SUB_INTERPRETER, ["main first"],
     f"{REFUSED_THERE}\n8"),
    ("a sub-interpreter first", SUB_INTERPRETER, ["sub first"], f"{REFUSED_THERE}\n8"),
]


@pytest.mark.parametrize("script, arguments, expected", [row[1:] for row in ELSEWHERE],
                         ids=[row[0] for row in ELSEWHERE])
def test_forked_children_convert_and_sub_interpreters_are_refused(script, arguments, expected):
    got = subprocess.run([sys.executable, "-W", "ignore", "-c", script, BOX, *arguments],
                         capture_output=True, timeout=120, check=False)
    assert (got.returncode, got.stdout.decode().strip()) == (0, expected), got.stderr
