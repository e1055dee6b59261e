// The Python module `tessloom`: reading mesh files and converting scenes from a script, the
// records as read-only numpy arrays over the mesh's own vectors. The interpreter's lock is
// released while a file is read, a scene converted or a mesh encoded or written, so threads
// convert at once; the library installs no signal handlers, so Python keeps its own.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "meshfile/reader.h"
#include "tessloom/convert.h"

namespace py = pybind11;

namespace tessloom::python {

namespace {

using meshfile::Bounds;
using meshfile::FaceRecord;
using meshfile::MaterialEntry;
using meshfile::Position;
using meshfile::TexCoord;

// The arrays are views of the records' vectors, with the file's own field order: each record
// must be laid out in memory as in the file, 4-byte fields without padding.
static_assert(sizeof(Position) == meshfile::kVertexBytes);
static_assert(sizeof(TexCoord) == meshfile::kTexVertexBytes);
static_assert(sizeof(FaceRecord) == meshfile::kFaceBytes);
static_assert(offsetof(FaceRecord, material) == meshfile::kFaceAt.material);
static_assert(offsetof(FaceRecord, a) == meshfile::kFaceAt.corners);
static_assert(offsetof(FaceRecord, ta) == meshfile::kFaceAt.texCorners);
static_assert(offsetof(FaceRecord, faceNormal) == meshfile::kFaceAt.normal);
static_assert(offsetof(FaceRecord, normalA) == meshfile::kFaceAt.cornerNormals);
static_assert(offsetof(FaceRecord, normalC) - offsetof(FaceRecord, normalA) ==
              2 * sizeof(Position));

// A mesh file's records with what converting the scene found; never changed once made, so
// the views stay true and threads may read it at once. The findings and warnings are the
// scene's, shared by every mesh converted from it: copied into each of the meshes of
// convert_each, they would grow with the square of the scene's meshes.
struct Mesh {
    MeshFile file;
    std::shared_ptr<const std::vector<Finding>> findings;
    std::shared_ptr<const std::vector<std::string>> warnings;
};

// The exception classes, made when the module is loaded and kept for its life.
struct ErrorTypes {
    py::handle error, read, convert, write;
};
ErrorTypes errorTypes;

// The bindings run in the main interpreter only: in a sub-interpreter, raising a Python
// error from the module would wait forever for the main interpreter's lock. Refused with
// an exception that is raised without that lock; a module imported once is handed to every
// later interpreter without its initialisation, so each entry point checks.
void mainInterpreterOnly() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main())
        throw py::import_error(
            "tessloom cannot be used in a sub-interpreter, only in the main one");
}

// Raises what the handler of a signal that came while the lock was let go raises (Ctrl-C:
// KeyboardInterrupt), before the call's result or failure: a wait the signal cut short
// (a FIFO's open) is then no failure of its own.
void raisePendingSignal() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// Text from the library and the files as Python text: bytes that are not UTF-8 (a name, a
// path) become U+FFFD rather than failing.
py::str text(const std::string& value) {
    PyObject* decoded =
        PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
    if (!decoded) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

py::list textList(const std::vector<std::string>& lines) {
    py::list list;
    for (const std::string& line : lines) list.append(text(line));
    return list;
}

py::list findingList(const std::vector<Finding>& findings) {
    py::list list;
    for (const Finding& f : findings) list.append(py::cast(f));
    return list;
}

// Raises `type` with the message and the attributes given.
[[noreturn]] void raise(py::handle type, const std::string& message, const py::dict& attributes) {
    py::object error = type(text(message));
    for (const auto& [name, value] : attributes) py::setattr(error, name, value);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

// A path as the operating system takes it: str, bytes or os.PathLike, encoded as Python
// encodes file names. A NUL would cut the name short where the file is opened.
std::filesystem::path pathOf(const py::handle& object) {
    const py::object os = py::module_::import("os");
    const std::string bytes = py::bytes(os.attr("fsencode")(object));
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error("embedded null byte in the path");
    return std::filesystem::path(bytes);
}

bool isPath(const py::handle& object) {
    return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

std::string typeName(const py::handle& object) {
    return Py_TYPE(object.ptr())->tp_name;
}

// A keyword that is a switch: True or False (numpy's bool too). None, 0, 1 or 1.5 are
// refused rather than taken for their truth, as a misplaced argument would be.
bool flagOf(const py::handle& value, const char* keyword) {
    if (!PyBool_Check(value.ptr()) &&
        !py::isinstance(value, py::module_::import("numpy").attr("bool_"))) {
        throw py::type_error(std::string(keyword) + " must be True or False, not " +
                             typeName(value));
    }
    return PyObject_IsTrue(value.ptr()) == 1;
}

// A keyword that is a name: None, or a str (encoded as UTF-8, the bytes of a file name
// decoded with surrogateescape given back as they were) or bytes.
std::optional<std::string> nameOf(const py::handle& value, const char* keyword) {
    if (value.is_none()) return std::nullopt;
    if (py::isinstance<py::str>(value))
        return std::string(py::bytes(value.attr("encode")("utf-8", "surrogateescape")));
    if (py::isinstance<py::bytes>(value))
        return std::string(py::reinterpret_borrow<py::bytes>(value));
    throw py::type_error(std::string(keyword) + " must be None, a str or bytes, not " +
                         typeName(value));
}

// Whether the bytes behind a buffer can never change: a bytes object's, or those a
// memoryview shows of one. A read-only buffer of anything else (a read-only memoryview of a
// bytearray, a numpy array marked read-only) may still be written through its owner by
// another thread while the lock is released.
bool immutable(PyObject* object) {
    if (PyBytes_Check(object)) return true;
    if (!PyMemoryView_Check(object)) return false;
    const PyObject* base = PyMemoryView_GET_BUFFER(object)->obj;
    return base != nullptr && PyBytes_Check(base);
}

// The bytes of a buffer (bytes, bytearray, memoryview, any object with a buffer), in C order
// as bytes(object) gives them, held while the lock is released: the bytes of a bytes object
// are viewed where they lie, which its exported buffer keeps alive and unmoved; any other
// buffer is copied under the lock, as its owner may change it while it is read, and a
// strided one is gathered into one run.
class Bytes {
  public:
    explicit Bytes(const py::handle& object) {
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_FULL_RO) != 0)
            throw py::error_already_set();
        const auto size = static_cast<std::size_t>(view_.len);
        if (immutable(object.ptr()) && PyBuffer_IsContiguous(&view_, 'C')) {
            held_ = true;
            bytes_ = {static_cast<const std::byte*>(view_.buf), size};
            return;
        }
        int gathered = -1;
        try {
            copy_.resize(size);
            gathered = PyBuffer_ToContiguous(copy_.data(), &view_, view_.len, 'C');
        } catch (...) {
            PyBuffer_Release(&view_);
            throw;
        }
        PyBuffer_Release(&view_);
        if (gathered != 0) throw py::error_already_set();
        bytes_ = copy_;
    }
    ~Bytes() {
        if (held_) PyBuffer_Release(&view_);
    }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    std::span<const std::byte> span() const { return bytes_; }

  private:
    Py_buffer view_{};
    bool held_ = false;
    std::vector<std::byte> copy_;
    std::span<const std::byte> bytes_;
};

// ---- reading a mesh file

// Why a file was not read: the reader's "at byte N: expected ...", or that neither layout
// fits or both do; the offset where reading stopped.
struct ReadFailure {
    std::uint64_t offset;
    std::string message;
};

std::optional<meshfile::Layout> layoutOf(const py::handle& value) {
    const std::optional<std::string> name = nameOf(value, "layout");
    if (!name) return std::nullopt;
    if (*name == "with") return meshfile::Layout::kWithMaterials;
    if (*name == "without") return meshfile::Layout::kWithoutMaterials;
    throw py::value_error("layout must be None, 'with' or 'without'");
}

// A file's records, in the layout given or else the only one its size fits; when it fits
// both or neither, the failure says so as tessloom-inspect does.
MeshFile readSource(const meshfile::ByteSource& source, std::optional<meshfile::Layout> layout) {
    if (layout) return meshfile::readMeshFile(source, *layout);
    const meshfile::LayoutGuess guess = meshfile::inferLayout(source);
    if (const std::optional<meshfile::Sections> sections = guess.only())
        return meshfile::readMeshFile(source, sections->layout);
    if (guess.withMaterials) {
        throw ReadFailure{0,
                          "its size fits both layouts; choose one with layout='with' or "
                          "layout='without'"};
    }
    throw ReadFailure{std::max(guess.withMaterialsStop, guess.withoutMaterialsStop),
                      "no layout fits: with a material section, " + guess.withMaterialsError +
                          "; without, " + guess.withoutMaterialsError};
}

std::unique_ptr<Mesh> readMesh(const py::object& source, const py::object& layoutName) {
    mainInterpreterOnly();
    const std::optional<meshfile::Layout> layout = layoutOf(layoutName);
    auto mesh = std::make_unique<Mesh>();
    std::string name = "<memory>";
    std::optional<ReadFailure> failure;
    bool outOfMemory = false;
    auto readWith = [&](auto&& readIt) {
        py::gil_scoped_release release;
        try {
            mesh->file = readIt();
        } catch (const meshfile::ReadError& e) {
            failure = ReadFailure{e.offset(), e.what()};
        } catch (const ReadFailure& e) {
            failure = e;
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        } catch (const std::length_error&) {
            outOfMemory = true;
        }
    };
    if (isPath(source)) {
        const std::filesystem::path path = pathOf(source);
        name = path.string();
        readWith([&] { return readSource(meshfile::FileSource(path.string()), layout); });
    } else if (PyObject_CheckBuffer(source.ptr())) {
        const Bytes bytes(source);
        const auto span = bytes.span();
        const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(span.data()),
                                                 span.size());
        readWith([&] { return readSource(meshfile::SpanSource(data), layout); });
    } else {
        throw py::type_error(
            "source must be a path (str or os.PathLike) or a mesh file's bytes "
            "(bytes, bytearray, memoryview), not " +
            typeName(source));
    }
    raisePendingSignal();
    if (outOfMemory) throw std::bad_alloc();
    if (failure) {
        py::dict attributes;
        attributes["offset"] = failure->offset;
        raise(errorTypes.read, name + ": " + failure->message, attributes);
    }
    return mesh;
}

// ---- converting a scene

struct ConvertArguments {
    py::object scene, mesh, merge, keepUv, fixNormals, strict, name;
    py::object findings;  // looked for: the scene is read once more for them
};

// The options of a call, with the mesh chosen by index (from 0) or by name.
ConvertOptions optionsOf(const ConvertArguments& a) {
    ConvertOptions options{.merge = flagOf(a.merge, "merge"),
                           .keepUv = flagOf(a.keepUv, "keep_uv"),
                           .fixNormals = flagOf(a.fixNormals, "fix_normals"),
                           .strict = flagOf(a.strict, "strict")};
    if (const std::optional<std::string> name = nameOf(a.name, "name")) options.name = *name;
    if (a.mesh.is_none()) return options;
    if (options.merge) throw py::value_error("mesh and merge=True exclude each other");
    // True is an int to Python, but as a mesh it is a mistake, not mesh 1
    if (PyBool_Check(a.mesh.ptr()) ||
        py::isinstance(a.mesh, py::module_::import("numpy").attr("bool_"))) {
        throw py::type_error("mesh must be None, an index (int) or a name (str or bytes), not " +
                             typeName(a.mesh));
    }
    if (PyIndex_Check(a.mesh.ptr())) {  // int, numpy's integers
        const py::int_ index = py::reinterpret_steal<py::int_>(PyNumber_Index(a.mesh.ptr()));
        if (!index) throw py::error_already_set();
        if (index < py::int_(0)) throw py::value_error("a mesh index is not negative");
        // an index beyond any scene's meshes: the conversion says the scene has no such mesh
        options.mesh = PyLong_AsSize_t(index.ptr());
        if (PyErr_Occurred()) {
            PyErr_Clear();
            options.mesh = SIZE_MAX;
        }
        return options;
    }
    try {
        options.mesh = *nameOf(a.mesh, "mesh");
    } catch (const py::type_error&) {
        throw py::type_error("mesh must be None, an index (int) or a name (str or bytes), not " +
                             typeName(a.mesh));
    }
    return options;
}

// The meshes of the call, converted without the lock; failures raise tessloom.ConvertError
// with the scene's findings and warnings.
std::vector<std::unique_ptr<Mesh>> convertScene(const ConvertArguments& a, bool each) {
    mainInterpreterOnly();
    ConvertOptions options = optionsOf(a);
    std::vector<Finding> findings;
    std::vector<std::string> warnings;
    if (flagOf(a.findings, "findings")) options.findings = &findings;
    options.warnings = &warnings;
    std::vector<MeshFile> files;
    std::optional<std::string> failure;
    bool outOfMemory = false;
    auto convertWith = [&](auto&& source) {
        py::gil_scoped_release release;
        try {
            if (each) {
                files = convertEach(source, options);
            } else {
                files.push_back(convert(source, options));
            }
        } catch (const ConvertError& e) {
            failure = e.what();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        } catch (const std::length_error&) {
            outOfMemory = true;
        }
    };
    if (isPath(a.scene)) {
        convertWith(pathOf(a.scene));
    } else if (PyObject_CheckBuffer(a.scene.ptr())) {
        const Bytes bytes(a.scene);
        convertWith(bytes.span());
    } else {
        throw py::type_error(
            "scene must be a path (str or os.PathLike) or scene text (bytes, bytearray, "
            "memoryview)");
    }
    raisePendingSignal();
    if (outOfMemory) throw std::bad_alloc();
    if (failure) {
        py::dict attributes;
        attributes["findings"] = findingList(findings);
        attributes["warnings"] = textList(warnings);
        raise(errorTypes.convert, *failure, attributes);
    }
    const auto sharedFindings = std::make_shared<const std::vector<Finding>>(std::move(findings));
    const auto sharedWarnings =
        std::make_shared<const std::vector<std::string>>(std::move(warnings));
    std::vector<std::unique_ptr<Mesh>> meshes;
    for (MeshFile& file : files) {
        meshes.push_back(
            std::make_unique<Mesh>(Mesh{std::move(file), sharedFindings, sharedWarnings}));
    }
    return meshes;
}

// ---- the mesh's arrays and records

// A read-only array over memory that `owner` keeps alive. An empty one is given an address
// too, never read: without one numpy would make it an array of its own, which could be
// made writable again.
py::array view(const py::object& owner, const py::dtype& type, std::vector<py::ssize_t> shape,
               std::vector<py::ssize_t> strides, const void* first) {
    alignas(16) static const std::byte nothing[16] = {};
    py::array array(type, std::move(shape), std::move(strides), first ? first : nothing, owner);
    array.attr("flags").attr("writeable") = false;
    return array;
}

// One field of every record, as `Field`s of `shape` (after the record count) from `offset`
// bytes into each record.
template <class Field, class Record>
py::array fieldView(const py::object& self, const std::vector<Record>& records, std::size_t offset,
                    std::vector<py::ssize_t> shape, std::vector<py::ssize_t> innerStrides) {
    shape.insert(shape.begin(), static_cast<py::ssize_t>(records.size()));
    innerStrides.insert(innerStrides.begin(), static_cast<py::ssize_t>(sizeof(Record)));
    const void* first =
        records.empty() ? nullptr : reinterpret_cast<const std::byte*>(records.data()) + offset;
    return view(self, py::dtype::of<Field>(), std::move(shape), std::move(innerStrides), first);
}

const Mesh& meshOf(const py::object& self) {
    return self.cast<const Mesh&>();
}

// The face records as one structured array: the fields in file order at their offsets.
py::array faceRecords(const py::object& self) {
    const Mesh& mesh = meshOf(self);
    py::dict fields;
    fields["names"] =
        py::make_tuple("material", "corners", "tex_corners", "normal", "corner_normals");
    fields["formats"] =
        py::make_tuple("<i4", py::make_tuple("<i4", 3), py::make_tuple("<i4", 3),
                       py::make_tuple("<f4", 3), py::make_tuple("<f4", py::make_tuple(3, 3)));
    fields["offsets"] = py::make_tuple(meshfile::kFaceAt.material, meshfile::kFaceAt.corners,
                                       meshfile::kFaceAt.texCorners, meshfile::kFaceAt.normal,
                                       meshfile::kFaceAt.cornerNormals);
    fields["itemsize"] = meshfile::kFaceBytes;
    const py::dtype type = py::module_::import("numpy").attr("dtype")(fields);
    const auto& faces = mesh.file.faces;
    return view(self, type, {static_cast<py::ssize_t>(faces.size())},
                {static_cast<py::ssize_t>(sizeof(FaceRecord))},
                faces.empty() ? nullptr : faces.data());
}

py::tuple triple(const float (&values)[3]) {
    return py::make_tuple(values[0], values[1], values[2]);
}

py::bytes encoded(const Mesh& mesh) {
    mainInterpreterOnly();
    std::vector<std::byte> bytes;
    std::optional<std::string> failure;
    {
        py::gil_scoped_release release;
        try {
            bytes = encode(mesh.file);
        } catch (const ConvertError& e) {
            failure = e.what();
        }
    }
    raisePendingSignal();
    if (failure) raise(errorTypes.write, *failure, {});
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void save(const Mesh& mesh, const py::object& path) {
    mainInterpreterOnly();
    const std::filesystem::path target = pathOf(path);
    std::optional<std::string> failure;
    {
        py::gil_scoped_release release;
        try {
            write(mesh.file, target);
        } catch (const ConvertError& e) {
            failure = e.what();
        }
    }
    raisePendingSignal();
    if (failure) raise(errorTypes.write, *failure, {});
}

// The module's classes are made by the module alone: Python code cannot make one (Mesh(),
// Mesh.__new__(Mesh), a copy or an unpickling) without the record it shows, which would be
// read from memory never written.
void madeHereOnly(const py::handle& type) {
    auto* object = reinterpret_cast<PyTypeObject*>(type.ptr());
    object->tp_new = nullptr;
    PyType_Modified(object);
}

py::handle newError(py::module_& m, const char* name, const char* doc, py::handle base) {
    const std::string qualified = std::string("tessloom.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base.ptr(), nullptr);
    if (!type) throw py::error_already_set();
    m.add_object(name, py::handle(type));  // the reference made here is kept for good
    return type;
}

}  // namespace

}  // namespace tessloom::python

namespace {
py::module_::module_def moduleDefinition;
void defineModule(py::module_& m);
}  // namespace

// What PYBIND11_MODULE(tessloom, m) makes, after a check that must come first: imported
// first in a sub-interpreter, pybind11's own setup would wait forever for the main
// interpreter's lock.
extern "C" PYBIND11_EXPORT PyObject* PyInit_tessloom() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError,
                        "tessloom cannot be used in a sub-interpreter, only in the main one");
        return nullptr;
    }
    PYBIND11_CHECK_PYTHON_VERSION
    PYBIND11_ENSURE_INTERNALS_READY
    auto m = py::module_::create_extension_module("tessloom", nullptr, &moduleDefinition);
    try {
        defineModule(m);
        return m.ptr();
    }
    PYBIND11_CATCH_INIT_EXCEPTIONS
}

namespace {
void defineModule(py::module_& m) {
    using namespace tessloom::python;
    using tessloom::Finding;
    m.doc() =
        "Reads tessloom mesh files and converts ASE scenes into them, the records as numpy "
        "arrays.";

    errorTypes.error =
        newError(m, "Error", "A failure of tessloom, with the tool's message.", PyExc_Exception);
    errorTypes.read =
        newError(m, "ReadError",
                 "A file that is not a mesh file, or that cannot be read; offset: the byte where "
                 "reading stopped.",
                 errorTypes.error);
    errorTypes.convert = newError(
        m, "ConvertError",
        "A scene that cannot be converted, as the tool rejects it; findings and warnings: what "
        "the conversion found before it stopped.",
        errorTypes.error);
    errorTypes.write =
        newError(m, "WriteError", "A mesh that cannot be encoded or written.", errorTypes.error);

    py::class_<Finding>(m, "Finding", "What converting the scene does to one of its lines.")
        .def_readonly("line", &Finding::line, "1-based line number")
        .def_property_readonly(
            "severity",
            [](const Finding& f) {
                return f.severity == Finding::Severity::kError ? "error" : "warning";
            },
            "'warning' or 'error'")
        .def_property_readonly(
            "id", [](const Finding& f) { return text(f.id); },
            "a stable name, such as 'zero-tiling'")
        .def_property_readonly("message", [](const Finding& f) { return text(f.message); })
        .def_readonly("mesh", &Finding::mesh,
                      "the index of the *GEOMOBJECT mesh whose block holds the line, or None")
        .def("__repr__", [](const Finding& f) {
            return py::str("<tessloom.Finding line {} {} {}: {}>")
                .format(f.line, f.severity == Finding::Severity::kError ? "error" : "warning",
                        text(f.id), text(f.message));
        });

    py::class_<MaterialEntry>(m, "Material", "One entry of the material section.")
        .def_property_readonly("ambient", [](const MaterialEntry& e) { return triple(e.ambient); })
        .def_property_readonly("diffuse", [](const MaterialEntry& e) { return triple(e.diffuse); })
        .def_property_readonly("specular",
                               [](const MaterialEntry& e) { return triple(e.specular); })
        .def_readonly("shine", &MaterialEntry::shine)
        .def_readonly("u_tiling", &MaterialEntry::uTiling)
        .def_readonly("v_tiling", &MaterialEntry::vTiling)
        .def_readonly("u_offset", &MaterialEntry::uOffset)
        .def_readonly("v_offset", &MaterialEntry::vOffset)
        .def_readonly("reflect_refract", &MaterialEntry::reflectRefract)
        .def_readonly("has_bitmap", &MaterialEntry::hasBitmap)
        .def_property_readonly(
            "name", [](const MaterialEntry& e) { return py::bytes(e.name); },
            "the bitmap's name as stored, bytes")
        .def_property_readonly(
            "name_str", [](const MaterialEntry& e) { return text(e.name); },
            "the name decoded as UTF-8, U+FFFD for what is not")
        .def("__repr__", [](const MaterialEntry& e) {
            return py::str("<tessloom.Material {!r}>").format(py::bytes(e.name));
        });

    py::class_<Bounds>(m, "Bounds",
                       "The box around the vertices and the origin, and the largest distance "
                       "from the origin.")
        .def_readonly("radius", &Bounds::radius)
        .def_readonly("min_x", &Bounds::minX)
        .def_readonly("max_x", &Bounds::maxX)
        .def_readonly("min_y", &Bounds::minY)
        .def_readonly("max_y", &Bounds::maxY)
        .def_readonly("min_z", &Bounds::minZ)
        .def_readonly("max_z", &Bounds::maxZ)
        .def_property_readonly(
            "min", [](const Bounds& b) { return py::make_tuple(b.minX, b.minY, b.minZ); },
            "(min_x, min_y, min_z)")
        .def_property_readonly(
            "max", [](const Bounds& b) { return py::make_tuple(b.maxX, b.maxY, b.maxZ); },
            "(max_x, max_y, max_z)")
        .def("__repr__", [](const Bounds& b) {
            return py::str("<tessloom.Bounds min {} max {} radius {}>")
                .format(py::make_tuple(b.minX, b.minY, b.minZ),
                        py::make_tuple(b.maxX, b.maxY, b.maxZ), b.radius);
        });

    using tessloom::meshfile::Layout;
    py::class_<Mesh>(m, "Mesh",
                     "A mesh file's records; the arrays are read-only views that keep the mesh "
                     "alive.")
        .def_property_readonly(
            "vertices",
            [](const py::object& self) {
                return fieldView<float>(self, meshOf(self).file.vertices, 0, {3}, {4});
            },
            "(n, 3) float32")
        .def_property_readonly(
            "tex_vertices",
            [](const py::object& self) {
                return fieldView<float>(self, meshOf(self).file.texVertices, 0, {2}, {4});
            },
            "(n, 2) float32")
        .def_property_readonly(
            "corners",
            [](const py::object& self) {
                return fieldView<std::int32_t>(self, meshOf(self).file.faces,
                                               tessloom::meshfile::kFaceAt.corners, {3}, {4});
            },
            "(n, 3) int32: each face's vertex indices")
        .def_property_readonly(
            "tex_corners",
            [](const py::object& self) {
                return fieldView<std::int32_t>(self, meshOf(self).file.faces,
                                               tessloom::meshfile::kFaceAt.texCorners, {3}, {4});
            },
            "(n, 3) int32: each face's texture-vertex indices")
        .def_property_readonly(
            "material",
            [](const py::object& self) {
                return fieldView<std::int32_t>(self, meshOf(self).file.faces,
                                               tessloom::meshfile::kFaceAt.material, {}, {});
            },
            "(n,) int32: each face's material index")
        .def_property_readonly(
            "face_normals",
            [](const py::object& self) {
                return fieldView<float>(self, meshOf(self).file.faces,
                                        tessloom::meshfile::kFaceAt.normal, {3}, {4});
            },
            "(n, 3) float32")
        .def_property_readonly(
            "corner_normals",
            [](const py::object& self) {
                return fieldView<float>(self, meshOf(self).file.faces,
                                        tessloom::meshfile::kFaceAt.cornerNormals, {3, 3},
                                        {static_cast<py::ssize_t>(sizeof(Position)), 4});
            },
            "(n, 3, 3) float32: each corner's normal")
        .def_property_readonly("faces", &faceRecords,
                               "the face records as one structured array (n,), fields material, "
                               "corners, tex_corners, normal, corner_normals")
        .def_property_readonly(
            "materials",
            [](const Mesh& mesh) {
                py::list list;
                for (const MaterialEntry& e : mesh.file.materials) list.append(py::cast(e));
                return list;
            },
            "the material section's entries (empty without one)")
        .def_property_readonly("bounds", [](const Mesh& mesh) { return mesh.file.bounds; })
        .def_property_readonly(
            "layout",
            [](const Mesh& mesh) {
                return mesh.file.layout == Layout::kWithMaterials ? "with" : "without";
            },
            "'with' or 'without' a material section")
        .def_property_readonly(
            "findings",
            [](const Mesh& mesh) {
                return mesh.findings ? findingList(*mesh.findings) : py::list();
            },
            "what converting the scene found, line by line (empty for a file read)")
        .def_property_readonly(
            "warnings",
            [](const Mesh& mesh) { return mesh.warnings ? textList(*mesh.warnings) : py::list(); },
            "the conversion's warnings as the tool prints them, without 'tessloom: '")
        .def("save", &save, py::arg("path"),
             "Writes the mesh file to path, through a temporary file renamed into place.")
        .def("to_bytes", &encoded, "The mesh file's bytes.")
        .def("__repr__", [](const Mesh& mesh) {
            return py::str(
                       "<tessloom.Mesh {} vertices, {} texture vertices, {} faces, {} "
                       "materials>")
                .format(mesh.file.vertices.size(), mesh.file.texVertices.size(),
                        mesh.file.faces.size(), mesh.file.materials.size());
        });

    for (const char* name : {"Finding", "Material", "Bounds", "Mesh"}) madeHereOnly(m.attr(name));

    m.def("read", &readMesh, py::arg("source"), py::arg("layout") = py::none(),
          "The mesh file at a path (str or os.PathLike), or in bytes. layout: None to infer it "
          "from the size, 'with' or 'without' a material section. Raises tessloom.ReadError.");
    m.def(
        "convert",
        [](py::object scene, py::object mesh, py::object merge, py::object keepUv,
           py::object fixNormals, py::object strict, py::object name, py::object findings) {
            auto meshes = convertScene(
                {std::move(scene), std::move(mesh), std::move(merge), std::move(keepUv),
                 std::move(fixNormals), std::move(strict), std::move(name), std::move(findings)},
                false);
            return std::move(meshes.front());
        },
        py::arg("scene"), py::arg("mesh") = py::none(), py::arg("merge") = false,
        py::arg("keep_uv") = false, py::arg("fix_normals") = false, py::arg("strict") = false,
        py::arg("name") = py::none(), py::arg("findings") = true,
        "The mesh file of a scene: a path (str or os.PathLike) or the scene's text (bytes, "
        "bytearray, memoryview). mesh: the index or name of the mesh to convert; merge: all "
        "meshes in one; name: what messages call text in memory; findings=False: none looked "
        "for, which reads the scene once less. Raises tessloom.ConvertError.");
    m.def(
        "convert_each",
        [](py::object scene, py::object keepUv, py::object fixNormals, py::object strict,
           py::object name, py::object findings) {
            return convertScene(
                {std::move(scene), py::none(), py::bool_(false), std::move(keepUv),
                 std::move(fixNormals), std::move(strict), std::move(name), std::move(findings)},
                true);
        },
        py::arg("scene"), py::arg("keep_uv") = false, py::arg("fix_normals") = false,
        py::arg("strict") = false, py::arg("name") = py::none(), py::arg("findings") = true,
        "Every mesh of the scene, in file order, each converted as the scene without the "
        "others. Raises tessloom.ConvertError.");
}
}  // namespace
