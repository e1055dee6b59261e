"""Reading mesh files: the records as tessloom-inspect shows them, the arrays' types and
shapes as documented, read-only views that keep the mesh alive, and damaged files refused
with the inspector's message."""
import gc
import os
import struct

import numpy as np
import pytest

import tessloom
from conftest import BOX, inspect_json, scene_params, tool, without_prefix


def floats(values):
    """JSON numbers as float32; null, which stands for infinity or NaN there, as NaN."""
    return np.array([np.nan if v is None else v for v in values], dtype=np.float32)


def assert_same(actual, expected):
    """Equal values, where a NaN expected (JSON's null) takes any value that is not finite."""
    expected = np.asarray(expected, dtype=actual.dtype).reshape(actual.shape)
    unknown = np.isnan(expected) if expected.dtype.kind == "f" else np.zeros(expected.shape, bool)
    assert np.array_equal(actual[~unknown], expected[~unknown])
    assert not np.isfinite(actual[unknown]).any()


@pytest.mark.parametrize("scene", scene_params())
def test_converted_scene_reads_back_as_the_inspector_shows_it(scene, tmp_path, inspector):
    out = tmp_path / "out.obj"
    assert tool(scene, out).status == 0
    summary = inspect_json(inspector, out)
    records = inspect_json(inspector, "--dump", out)["records"]
    kinds = {kind: [r for r in records if r["record"] == kind]
             for kind in ("material", "vertex", "tvertex", "face", "bounds")}
    for mesh in (tessloom.read(out), tessloom.read(out.read_bytes())):
        assert mesh.layout == summary["layout"]
        assert {"materials": len(mesh.materials), "vertices": len(mesh.vertices),
                "textureVertices": len(mesh.tex_vertices),
                "faces": len(mesh.corners)} == summary["counts"]
        assert_same(mesh.vertices, [floats(r["position"]) for r in kinds["vertex"]])
        assert_same(mesh.tex_vertices, [floats(r["uv"]) for r in kinds["tvertex"]])
        faces = kinds["face"]
        assert_same(mesh.corners, [r["vertices"] for r in faces])
        assert_same(mesh.tex_corners, [r["tvertices"] for r in faces])
        assert_same(mesh.material, [r["material"] for r in faces])
        assert_same(mesh.face_normals, [floats(r["normal"]) for r in faces])
        assert_same(mesh.corner_normals,
                    [[floats(n) for n in r["cornerNormals"]] for r in faces])
        for entry, r in zip(mesh.materials, kinds["material"], strict=True):
            for field in ("ambient", "diffuse", "specular"):
                assert_same(np.array(getattr(entry, field), np.float32), floats(r[field]))
            assert_same(np.array([entry.shine, entry.u_tiling, entry.v_tiling, entry.u_offset,
                                  entry.v_offset], np.float32),
                        floats([r["shine"], *r["tiling"], *r["offset"]]))
            assert (entry.reflect_refract, entry.has_bitmap) == (r["reflectRefract"],
                                                                 r["hasBitmap"])
            name = bytes.fromhex(r["nameHex"]) if "nameHex" in r else r["name"].encode()
            assert entry.name == name
            assert entry.name_str == r["name"]
        bounds = summary["bounds"]
        assert_same(np.array([mesh.bounds.radius, *mesh.bounds.min, *mesh.bounds.max],
                             np.float32),
                    floats([bounds["radius"], *bounds["min"], *bounds["max"]]))


# Each array: its type, the shape of one record, and box.ase's count of records; its first
# record where it is worked out by hand from box.ase (a vertex (x, y, z) of the scene is
# (x, z, -y) in the file).
ARRAYS = [
    ("vertices", np.float32, (3,), 8, [-10, 0, 10]),
    ("tex_vertices", np.float32, (2,), 12, None),
    ("corners", np.int32, (3,), 12, [0, 2, 3]),
    ("tex_corners", np.int32, (3,), 12, None),
    ("material", np.int32, (), 12, 0),
    ("face_normals", np.float32, (3,), 12, None),
    ("corner_normals", np.float32, (3, 3), 12, None),
]
SOURCES = {
    "read from the path": lambda path: tessloom.read(path),
    "read from bytes": lambda path: tessloom.read(path.read_bytes()),
    "converted": lambda path: tessloom.convert(BOX),
}


@pytest.fixture
def box_file(tmp_path):
    out = tmp_path / "box.obj"
    assert tool(BOX, out).status == 0
    return out


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize(("name", "dtype", "shape", "count", "first"), ARRAYS,
                         ids=[row[0] for row in ARRAYS])
def test_arrays_are_read_only_views_of_documented_types(box_file, source, name, dtype, shape,
                                                        count, first):
    mesh = SOURCES[source](box_file)
    array = getattr(mesh, name)
    assert array.dtype == dtype
    assert array.shape == (count, *shape)
    if first is not None:
        assert np.array_equal(array[0], first)
    # a view of the mesh's records, not a copy, and nobody writes through it
    assert not array.flags.owndata
    with pytest.raises(ValueError):
        array[...] = 0
    with pytest.raises(ValueError):
        array.flags.writeable = True
    # nor through a view of the view, whatever its chain of bases
    derived = np.asarray(array[::-1].T)
    with pytest.raises(ValueError):
        derived.flags.writeable = True
    with pytest.raises(TypeError):
        memoryview(derived)[(0,) * derived.ndim] = 0
    # the view keeps the mesh's records alive once the mesh is dropped
    copy = array.copy()
    del mesh
    gc.collect()
    assert np.array_equal(array, copy)


@pytest.mark.parametrize(("name", "dtype", "shape"), [row[:3] for row in ARRAYS],
                         ids=[row[0] for row in ARRAYS])
def test_an_empty_scene_gives_empty_arrays_of_the_same_types(name, dtype, shape):
    array = getattr(tessloom.convert(b""), name)
    assert (array.dtype, array.shape, array.flags.writeable) == (dtype, (0, *shape), False)
    with pytest.raises(ValueError):
        array.flags.writeable = True


def test_face_records_are_one_structured_view_of_the_same_memory(box_file):
    mesh = tessloom.read(box_file)
    faces = mesh.faces
    assert faces.shape == (12,) and faces.dtype.itemsize == 76
    for field, name in (("material", "material"), ("corners", "corners"),
                        ("tex_corners", "tex_corners"), ("normal", "face_normals"),
                        ("corner_normals", "corner_normals")):
        array = getattr(mesh, name)
        assert np.array_equal(faces[field], array)
        assert np.shares_memory(faces, array)
    assert not faces.flags.writeable


def test_material_names_are_bytes_and_text_with_replacement(tmp_path):
    # a bitmap path in Latin-1: the name keeps its bytes; the text has U+FFFD for the é
    scene = BOX.read_bytes().replace(b"crate.tga", b"caf\xe9.tga")
    mesh = tessloom.convert(scene)
    assert [(m.name, m.name_str) for m in mesh.materials] == [(b"caf\xe9.tga", "caf\ufffd.tga")]


def box_bytes():
    return tessloom.convert(BOX).to_bytes()


def patched(at, value):
    """box.ase's mesh file with the 4 bytes at `at` set to `value`."""
    data = bytearray(box_bytes())
    data[at:at + 4] = struct.pack("<i", value)
    return bytes(data)


# box.ase's mesh file, of 1225 bytes: 1 material entry (its name's length at byte 68, its
# name "crate.tga" at 72), the vertex count at 81, the texture-vertex count at 181, the
# face count at 281, the bounds at 1197.
DAMAGED = [
    ("cut short", lambda: box_bytes()[:100], None),
    ("empty", lambda: b"", None),
    ("a byte too many", lambda: box_bytes() + b"\0", None),
    ("a vertex count too large", lambda: patched(81, 0x7FFFFFFF), None),
    ("a negative vertex count", lambda: patched(81, -1), None),
    ("a name longer than the file", lambda: patched(68, 1 << 30), None),
    ("a face count too large", lambda: patched(281, 13), "with"),
    ("read without its material section", box_bytes, "without"),
    ("bytes of every value", lambda: bytes(range(256)) * 4, None),
]


@pytest.mark.parametrize("make, layout", [row[1:] for row in DAMAGED],
                         ids=[row[0] for row in DAMAGED])
def test_damaged_file_raises_the_inspectors_message(make, layout, tmp_path, inspector):
    path = tmp_path / "damaged.obj"
    path.write_bytes(make())
    expected = inspector(*(["--layout", layout] if layout else []), path)
    assert expected.status == 1
    [line] = without_prefix(expected.lines, f"tessloom-inspect: {path}: ")
    for source, name in ((path, str(path)), (path.read_bytes(), "<memory>")):
        with pytest.raises(tessloom.ReadError) as caught:
            tessloom.read(source, layout=layout)
        assert str(caught.value) == f"{name}: {line}"
        assert isinstance(caught.value, tessloom.Error)


def test_paths_that_are_no_mesh_file_raise_read_error(tmp_path):
    os.mkfifo(tmp_path / "fifo")
    rows = [
        (tmp_path / "missing.obj", "at byte 0: expected a readable file: No such file or "
                                   "directory"),
        (tmp_path, "at byte 0: expected a regular file"),
        (tmp_path / "fifo", "at byte 0: expected a regular file"),
    ]
    for path, reason in rows:
        with pytest.raises(tessloom.ReadError) as caught:
            tessloom.read(path)
        assert (str(caught.value), caught.value.offset) == (f"{path}: {reason}", 0)
