"""Converting scenes: from a path or from the text in memory, the tool's mesh files, warnings
and failure lines; the findings of tessloom-inspect --scene; the mesh written or encoded."""
import array
import copy
import ctypes
import os
import pathlib
import pickle
import signal
import subprocess
import sys
import threading

import numpy as np

import pytest

import tessloom
from conftest import BOX, SOURCE_DIR, inspect_json, scene_params, tool, without_prefix

# Two meshes, "a" of three vertices and "7" of one, neither with normals or materials.
TWO_MESHES = (
    b'*GEOMOBJECT {\n*NODE_NAME "a"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n'
    b"*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
    b"*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_MTLID 0\n}\n}\n"
    b'*GEOMOBJECT {\n*NODE_NAME "7"\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n'
    b"*MESH_VERTEX 0 5 5 5\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n}\n}\n")
# One material that gives no tiling, over a face with texture vertex (0.5, 0.25) and no
# normals: the material on line 2, the face count on line 6.
UNTILED = (
    b'*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*BITMAP "a.tga"\n}\n'
    b"*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n"
    b"*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
    b"*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
    b"*MESH_TVERT 0 0.5 0.25 0\n*MESH_TFACE 0 0 0 0\n*MATERIAL_REF 0\n")
# The same material before a *GEOMOBJECT block: its block, from line 3, is in no mesh; the
# mesh's block starts on line 7.
UNTILED_OUTSIDE = (
    b'*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*BITMAP "a.tga"\n}\n}\n'
    b'*GEOMOBJECT {\n*NODE_NAME "a"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n'
    b"*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
    b"*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_MTLID 0\n*MESH_NUMTVERTEX 1\n"
    b"*MESH_TVERT 0 0.5 0.25 0\n*MESH_NUMTVFACES 1\n*MESH_TFACE 0 0 0 0\n}\n"
    b"*MATERIAL_REF 0\n}\n")
NEGATIVE = b"*MESH_NUMVERTEX -1\n"

# The tool's switches for the module's arguments; "each" is convert_each.
MODES = {
    "plain": ([], {}),
    "fix normals": (["--fix-normals"], {"fix_normals": True}),
    "keep uv": (["--keep-uv"], {"keep_uv": True}),
    "merge": (["--merge"], {"merge": True}),
    "each": (["--each"], {"each": True}),
}


def tool_outcome(scene, switches, folder):
    """The tool's mesh files (out.obj, or out.N.obj with --each) and standard error's lines
    without "tessloom: "."""
    folder.mkdir()
    got = tool(*switches, scene, folder / "out.obj")
    if "--each" in switches:
        files = [folder / f"out.{n}.obj" for n in range(len(list(folder.iterdir())))]
    else:
        files = [folder / "out.obj"] if (folder / "out.obj").exists() else []
    return [f.read_bytes() for f in files], without_prefix(got.lines, "tessloom: ")


def module_outcome(scene, arguments):
    """The module's meshes as bytes and its lines: the warnings, then the failure's message."""
    arguments = dict(arguments)
    try:
        if arguments.pop("each", False):
            meshes = tessloom.convert_each(scene, **arguments)
        else:
            meshes = [tessloom.convert(scene, **arguments)]
    except tessloom.ConvertError as e:
        assert isinstance(e, tessloom.Error)
        return [], [*e.warnings, str(e)]
    return [m.to_bytes() for m in meshes], meshes[0].warnings


def sources(path):
    """A scene as each kind of argument: its path as str and as os.PathLike, and its text as
    bytes, bytearray and memoryview, named by its path so messages agree."""
    text = path.read_bytes()
    return {"str": (str(path), {}), "PathLike": (pathlib.Path(path), {}),
            "bytes": (text, {"name": str(path)}),
            "bytearray": (bytearray(text), {"name": str(path)}),
            "memoryview": (memoryview(text), {"name": str(path)})}


def assert_as_the_tool(path, switches, arguments, folder):
    expected = tool_outcome(path, switches, folder)
    for kind, (scene, extra) in sources(path).items():
        assert module_outcome(scene, {**arguments, **extra}) == expected, kind
    return expected


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("scene", scene_params())
def test_scene_converts_to_the_tools_file_from_its_path_and_its_text(scene, mode, tmp_path):
    switches, arguments = MODES[mode]
    files, _ = assert_as_the_tool(scene, switches, arguments, tmp_path / "tool")
    assert files


# Scenes made by hand, each with the module's arguments and the tool's switches: those that
# fail give the tool's line as the message of tessloom.ConvertError.
HAND_MADE = [
    ("a negative count", NEGATIVE, {}, []),
    ("a count beyond the file", b"*MESH_NUMFACES 999999\n", {}, []),
    ("empty", b"", {}, []),
    ("carriage returns", b"*MESH_NUMVERTEX 1\r*MESH_VERTEX 0 1 2 3\r", {}, []),
    ("two meshes", TWO_MESHES, {}, []),
    ("two meshes, strict", TWO_MESHES, {"strict": True}, ["--strict"]),
    ("a mesh by index", TWO_MESHES, {"mesh": 0}, ["--mesh", "0"]),
    ("a mesh by name", TWO_MESHES, {"mesh": "a"}, ["--mesh", "a"]),
    ("a mesh by name in bytes", TWO_MESHES, {"mesh": b"a"}, ["--mesh", "a"]),
    ("a mesh by numpy index", TWO_MESHES, {"mesh": np.int64(1)}, ["--mesh", "1"]),
    ("no such index", TWO_MESHES, {"mesh": 2}, ["--mesh", "2"]),
    ("an index beyond any count", TWO_MESHES, {"mesh": 2**70}, ["--mesh", str(2**64 - 1)]),
    ("no such name", TWO_MESHES, {"mesh": "b"}, ["--mesh", "b"]),
    ("each", TWO_MESHES, {"each": True}, ["--each"]),
    ("each, strict", TWO_MESHES, {"each": True, "strict": True}, ["--each", "--strict"]),
    ("no tiling", UNTILED, {}, []),
    ("no tiling, keep uv", UNTILED, {"keep_uv": True}, ["--keep-uv"]),
    ("no tiling, strict", UNTILED, {"strict": True}, ["--strict"]),
    ("no tiling, strict, fixed", UNTILED,
     {"strict": True, "keep_uv": True, "fix_normals": True}, ["--strict", "--fix"]),
    # hostile text: bytes of every value, NULs inside a keyword, an unclosed block nested
    # deeply, a token far longer than any read
    ("bytes of every value", bytes(range(256)) * 64, {}, []),
    ("NULs in a count", b"*MESH_NUM\0VERTEX 3\n*MESH_NUMFACES \0\0 1\n", {}, []),
    ("blocks never closed", b"*GEOMOBJECT {\n" + b"{\n" * 100000, {}, []),
    ("a long token", b"*MESH_NUMVERTEX " + b"9" * 1_000_000 + b"\n", {}, []),
]
FUZZ_FINDINGS = sorted((SOURCE_DIR / "fuzz").glob("*/*.ase"))


@pytest.mark.parametrize(
    "text, arguments, switches",
    [row[1:] for row in HAND_MADE] + [(p.read_bytes(), {}, []) for p in FUZZ_FINDINGS],
    ids=[row[0] for row in HAND_MADE] + [f"fuzz {p.parent.name}/{p.name}" for p in FUZZ_FINDINGS])
def test_hand_made_and_hostile_scenes_give_the_tools_files_and_lines(text, arguments, switches,
                                                                    tmp_path):
    path = tmp_path / "scene.ase"
    path.write_bytes(text)
    assert_as_the_tool(path, switches, arguments, tmp_path / "tool")


def test_a_name_of_digits_is_a_name_not_an_index():
    # the tool's --mesh 7 is an index; in Python an int is the index and a str the name
    by_name = tessloom.convert(TWO_MESHES, mesh="7").to_bytes()
    assert by_name == tessloom.convert(TWO_MESHES, mesh=1).to_bytes()
    with pytest.raises(tessloom.ConvertError, match="no mesh 7"):
        tessloom.convert(TWO_MESHES, mesh=7)


def finding_tuples(findings):
    return [(f.line, f.severity, f.id, f.mesh) for f in findings]


# Scenes with their findings, worked out from their lines by hand: "LINE SEVERITY ID MESH".
FINDINGS = [
    ("no tiling", UNTILED, {}, [(2, "warning", "zero-tiling", 0), (6, "warning", "no-normals", 0)]),
    ("a material outside the meshes", UNTILED_OUTSIDE, {"fix_normals": True},
     [(3, "warning", "zero-tiling", None), (7, "warning", "no-normals", 0)]),
    ("the second of two meshes", TWO_MESHES, {"mesh": 1},
     [(1, "warning", "no-normals", 0), (1, "warning", "several-meshes", 0),
      (7, "warning", "index-out-of-range", 0), (8, "warning", "index-out-of-range", 0),
      (9, "warning", "corner-out-of-range", 0), (12, "warning", "no-normals", 1)]),
    ("a negative count", NEGATIVE, {}, [(1, "error", "count-too-large", 0)]),
    ("a warning under strict", UNTILED, {"strict": True},
     [(2, "warning", "zero-tiling", 0), (6, "warning", "no-normals", 0)]),
    ("not looked for", UNTILED, {"findings": False}, []),
    ("not looked for in a failure", NEGATIVE, {"findings": False}, []),
]


@pytest.mark.parametrize("text, arguments, expected", [row[1:] for row in FINDINGS],
                         ids=[row[0] for row in FINDINGS])
def test_findings_come_with_the_mesh_or_the_failure(text, arguments, expected):
    try:
        findings = tessloom.convert(text, **arguments).findings
    except tessloom.ConvertError as e:
        findings = e.findings
    assert finding_tuples(findings) == expected
    assert all(f.message for f in findings)


@pytest.mark.parametrize("scene", scene_params())
def test_findings_are_those_of_tessloom_inspect_scene(scene, inspector):
    expected = inspect_json(inspector, "--scene", scene)["findings"]
    for mesh in (tessloom.convert(scene), *tessloom.convert_each(scene)):
        assert [{"line": f.line, "severity": f.severity, "id": f.id, "message": f.message,
                 "mesh": f.mesh} for f in mesh.findings] == expected


def test_a_mesh_read_from_a_file_has_no_findings(tmp_path):
    path = tmp_path / "box.obj"
    tessloom.convert(BOX).save(path)
    mesh = tessloom.read(path)
    assert (mesh.findings, mesh.warnings) == ([], [])


# Arguments the module refuses before anything is read, and objects it alone makes.
REFUSED = [
    ("a mesh and merge", lambda: tessloom.convert(BOX, mesh=0, merge=True), ValueError),
    ("a mesh by name and merge", lambda: tessloom.convert(BOX, mesh="Box01", merge=True),
     ValueError),
    ("a negative index", lambda: tessloom.convert(BOX, mesh=-1), ValueError),
    ("a mesh given as True", lambda: tessloom.convert(BOX, mesh=True), TypeError),
    ("a mesh given as numpy's False", lambda: tessloom.convert(BOX, mesh=np.False_), TypeError),
    ("a mesh given as a float", lambda: tessloom.convert(BOX, mesh=0.0), TypeError),
    ("a mesh given as a list", lambda: tessloom.convert(BOX, mesh=[0]), TypeError),
    ("a mesh name that is no text", lambda: tessloom.convert(BOX, mesh="\ud800"), ValueError),
    ("a scene given as a number", lambda: tessloom.convert(42), TypeError),
    ("a scene given as None", lambda: tessloom.convert(None), TypeError),
    ("a path with a NUL", lambda: tessloom.convert(f"{BOX}\0.txt"), ValueError),
    ("a PathLike with a NUL", lambda: tessloom.convert(pathlib.Path(f"{BOX}\0")), ValueError),
    ("a switch given as None", lambda: tessloom.convert(BOX, merge=None), TypeError),
    ("a switch given as 1", lambda: tessloom.convert(BOX, strict=1), TypeError),
    ("a switch given as text", lambda: tessloom.convert_each(BOX, fix_normals="yes"),
     TypeError),
    ("findings given as a float", lambda: tessloom.convert(BOX, findings=0.0), TypeError),
    ("a name given as a number", lambda: tessloom.convert(b"", name=1), TypeError),
    ("each with a mesh", lambda: tessloom.convert_each(BOX, mesh=0), TypeError),
    ("an unknown layout", lambda: tessloom.read(BOX, layout="sideways"), ValueError),
    ("a layout given as a number", lambda: tessloom.read(BOX, layout=1), TypeError),
    ("a source given as a number", lambda: tessloom.read(42), TypeError),
    ("a source given as None", lambda: tessloom.read(None), TypeError),
    ("a save path given as None", lambda: tessloom.convert(b"").save(None), TypeError),
    ("a save path with a NUL", lambda: tessloom.convert(b"").save("a\0b"), ValueError),
    # a mesh, a material, a finding or the bounds made without the module would show memory
    # never written: no constructor, no copy, no pickle
    ("a mesh made directly", lambda: tessloom.Mesh(), TypeError),
    ("a mesh made by __new__", lambda: tessloom.Mesh.__new__(tessloom.Mesh), TypeError),
    ("a mesh made by object.__new__", lambda: object.__new__(tessloom.Mesh), TypeError),
    ("a finding made by __new__", lambda: tessloom.Finding.__new__(tessloom.Finding),
     TypeError),
    ("a material made by __new__", lambda: tessloom.Material.__new__(tessloom.Material),
     TypeError),
    ("bounds made by __new__", lambda: tessloom.Bounds.__new__(tessloom.Bounds), TypeError),
    ("a subclass made", lambda: type("Sub", (tessloom.Mesh,), {})(), TypeError),
    ("a mesh copied", lambda: copy.copy(tessloom.convert(BOX)), TypeError),
    ("a mesh deep-copied", lambda: copy.deepcopy(tessloom.convert(BOX)), TypeError),
    ("a mesh pickled", lambda: pickle.dumps(tessloom.convert(BOX)), TypeError),
    ("a material copied", lambda: copy.copy(tessloom.convert(BOX).materials[0]), TypeError),
    ("the bounds pickled", lambda: pickle.dumps(tessloom.convert(BOX).bounds), TypeError),
]


@pytest.mark.parametrize("call, error", [row[1:] for row in REFUSED],
                         ids=[row[0] for row in REFUSED])
def test_arguments_that_exclude_each_other_or_do_not_fit_are_refused(call, error):
    with pytest.raises(error) as caught:
        call()
    # one line, but for a keyword the function does not take: pybind11 refuses the call
    # with the signatures it has, on lines of their own
    assert "\n" not in str(caught.value) or "incompatible function arguments" in str(caught.value)


def interleaved(text):
    """The text with a space after each byte: its even bytes are the text."""
    return bytes(byte for c in text for byte in (c, 0x20))


def read_only(array_):
    array_.flags.writeable = False
    return array_


# Scene text in each kind of buffer, strided and of other formats: each converts as the
# bytes bytes() gives of it.
BUFFERS = [
    ("a strided memoryview", lambda text: memoryview(interleaved(text))[::2]),
    ("a strided numpy array", lambda text: np.frombuffer(interleaved(text), np.uint8)[::2]),
    ("a numpy array in Fortran order",
     lambda text: np.frombuffer(interleaved(text), np.uint8).reshape(-1, 2).T),
    ("an int32 array", lambda text: array.array("i", text + b" " * (-len(text) % 4))),
    ("a two-dimensional memoryview",
     lambda text: memoryview(text + b" " * (len(text) % 2)).cast("B", (2, -(-len(text) // 2)))),
    ("a read-only view of a bytearray", lambda text: memoryview(bytearray(text)).toreadonly()),
    ("a read-only numpy array", lambda text: read_only(np.frombuffer(bytearray(text), np.uint8))),
]


@pytest.mark.parametrize("make", [row[1] for row in BUFFERS], ids=[row[0] for row in BUFFERS])
def test_any_buffer_converts_as_its_bytes(make):
    scene = make(BOX.read_bytes())
    assert tessloom.convert(scene).to_bytes() == tessloom.convert(bytes(scene)).to_bytes()
    assert bytes(scene).startswith(BOX.read_bytes())


@pytest.mark.parametrize("kind", ["bytearray", "read-only view of a bytearray"])
def test_text_changed_by_another_thread_converts_as_it_was_at_the_call(kind):
    # two scenes of the same length; another thread puts one then the other in the buffer
    # while the conversions run: each gives one scene's file, never a mixture
    first = BOX.read_bytes()
    second = first.replace(b"*MESH_VERTEX    0\t-10.0000", b"*MESH_VERTEX    0\t-12.0000")
    assert len(second) == len(first) and second != first
    expected = {tessloom.convert(first).to_bytes(), tessloom.convert(second).to_bytes()}
    assert len(expected) == 2
    buffer = bytearray(first)
    scene = buffer if kind == "bytearray" else memoryview(buffer).toreadonly()
    done = threading.Event()

    def change():
        while not done.is_set():
            buffer[:] = second
            buffer[:] = first

    thread = threading.Thread(target=change)
    thread.start()
    try:
        got = {tessloom.convert(scene).to_bytes() for _ in range(200)}
    finally:
        done.set()
        thread.join()
    assert got <= expected


def test_save_puts_the_file_in_place_or_leaves_the_path_as_it_was(tmp_path):
    mesh = tessloom.convert(BOX)
    expected = mesh.to_bytes()
    (tmp_path / "old.obj").write_bytes(b"old")
    (tmp_path / "folder").mkdir()
    rows = [  # path, whether it is written
        (tmp_path / "new.obj", True),
        (tmp_path / "old.obj", True),
        (str(tmp_path / "as text.obj"), True),
        (tmp_path / "missing" / "new.obj", False),
        (tmp_path / "folder", False),
    ]
    for path, written in rows:
        before = sorted(os.listdir(tmp_path))
        if written:
            mesh.save(path)
            assert pathlib.Path(path).read_bytes() == expected
        else:
            with pytest.raises(tessloom.WriteError) as caught:
                mesh.save(path)
            assert str(path) in str(caught.value)
            # nothing left behind: no temporary file, the folder unchanged
            assert sorted(os.listdir(tmp_path)) == before
            assert os.listdir(tmp_path / "folder") == []


def handlers():
    """The process's handler of each termination signal, as the C library holds it (Python's
    own table would not show a handler installed underneath it)."""
    libc = ctypes.CDLL(None, use_errno=True)
    got = {}
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
        action = ctypes.create_string_buffer(512)  # larger than any struct sigaction
        assert libc.sigaction(int(number), None, action) == 0
        got[number] = action.raw[:ctypes.sizeof(ctypes.c_void_p)]  # sa_handler comes first
    return got


def test_saving_and_converting_leave_the_signal_handlers_as_they_were(tmp_path):
    before = handlers()
    mesh = tessloom.convert(BOX)
    mesh.save(tmp_path / "box.obj")
    with pytest.raises(tessloom.WriteError):
        mesh.save(tmp_path / "missing" / "box.obj")
    tessloom.read(tmp_path / "box.obj")
    assert handlers() == before


MANY_MESHES = """
import resource, tessloom
one = (b'*GEOMOBJECT {\\n*NODE_NAME "m%d"\\n*MESH {\\n*MESH_NUMVERTEX 3\\n*MESH_NUMFACES 1\\n'
       b"*MESH_VERTEX 0 0 0 0\\n*MESH_VERTEX 1 1 0 0\\n*MESH_VERTEX 2 0 1 0\\n"
       b"*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_MTLID 0\\n}\\n}\\n")
meshes = tessloom.convert_each(b"".join(one % i for i in range(2000)))
print(len(meshes), len(meshes[0].findings), len(meshes[-1].findings),
      resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
"""


def test_the_meshes_of_a_scene_of_many_share_its_findings():
    # 2000 meshes without normals: each has the scene's 3999 findings (a no-normals of each
    # mesh, a several-meshes of each after the first), which held once take a few MB and
    # held by each mesh some 800 MB
    got = subprocess.run([sys.executable, "-c", MANY_MESHES], capture_output=True, timeout=300,
                         check=False)
    assert got.returncode == 0, got.stderr
    count, first, last, peak_mb = map(int, got.stdout.split())
    assert (count, first, last) == (2000, 3999, 3999)
    assert peak_mb < 200


def save_until_interrupted(mesh, folder):
    while True:
        mesh.save(folder / "saved.obj")


# Calls that Ctrl-C interrupts: a save that waits for a reader of a FIFO, and saves and
# conversions again and again. Each raises KeyboardInterrupt (not a WriteError of the cut
# open), leaves no temporary file, and a file saved is whole.
INTERRUPTED = [
    ("a save to a FIFO without a reader", lambda mesh, folder: mesh.save(folder / "fifo")),
    ("saves", save_until_interrupted),
    ("conversions", lambda mesh, folder: [tessloom.convert(BOX) for _ in iter(int, 1)]),
]


@pytest.mark.parametrize("call", [row[1] for row in INTERRUPTED],
                         ids=[row[0] for row in INTERRUPTED])
def test_ctrl_c_raises_keyboard_interrupt_and_leaves_whole_files(call, tmp_path):
    mesh = tessloom.convert(BOX)
    os.mkfifo(tmp_path / "fifo")
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call(mesh, tmp_path)
    finally:
        timer.join()
    assert set(os.listdir(tmp_path)) <= {"fifo", "saved.obj"}
    if (tmp_path / "saved.obj").exists():
        assert (tmp_path / "saved.obj").read_bytes() == mesh.to_bytes()
