// Converting ASE scenes into mesh files inside a program: from a file or from scene text in
// memory, with the passes and rules of the tessloom tool, on any number of threads at once.
//
//   #include <tessloom/convert.h>
//
//   std::vector<std::string> warnings;
//   const tessloom::MeshFile mesh =
//       tessloom::convert("ship.ase", {.fixNormals = true, .warnings = &warnings});
//   tessloom::write(mesh, "ship.obj");
//
// Text in memory converts to the very records the same text gives as a file. Every call
// is independent: nothing is shared between calls but the output module's record of the
// temporary files in progress, which is locked. The library never writes to standard error
// and installs no signal handlers. Needs C++20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "meshfile/format.h"

namespace tessloom {

// The records of one mesh file, as tessloom-meshfile(5) lays them out.
using MeshFile = meshfile::MeshFile;

// What converting a scene does to one of its lines: a value the scene lost, a count that
// does not match, a normal that is missing, or an error that stops the conversion. The
// findings tessloom-inspect --scene lists.
struct Finding {
    enum class Severity { kWarning, kError };
    std::uint64_t line = 0;  // 1-based; a line ends at a line feed
    Severity severity = Severity::kWarning;
    std::string id;  // stable: what a script matches on, such as "zero-tiling"
    std::string message;
    std::optional<std::size_t> mesh;  // the *GEOMOBJECT mesh whose block holds the line
};

// How a scene is converted; the defaults are the plain conversion.
struct ConvertOptions {
    // Which mesh convert() gives, when the scene holds several *GEOMOBJECT meshes: none
    // chosen (monostate), the whole scene, which gives the last mesh and a warning; an
    // index, from 0 in file order; or a name (the mesh's *NODE_NAME, taken as a name even
    // when it is all digits). A mesh chosen is converted as the scene without the others.
    std::variant<std::monostate, std::size_t, std::string> mesh = {};
    // All the meshes in one file, each converted as the scene without the others. Not
    // with `mesh`.
    bool merge = false;
    // Texture coordinates of a material that gives no tiling are kept, not scaled by 0.
    bool keepUv = false;
    // Vertex normals listed apart are given to the corners of their vertex, and every normal
    // the scene does not give (or gives as zero) is computed from the faces.
    bool fixNormals = false;
    // Any warning fails the conversion (ConvertError), after it is collected.
    bool strict = false;
    // When set, each warning is appended here, as the tool prints it after "tessloom: "
    // and without the line feed; when null, none is kept.
    std::vector<std::string>* warnings = nullptr;
    // When set, the scene's findings are appended here, in the order of its lines, whether
    // or not the conversion succeeds: those of the plain conversion of the whole scene,
    // whichever mesh is chosen, as tessloom-inspect --scene lists them. Finding them reads
    // the scene once more; when null, nothing is looked for.
    std::vector<Finding>* findings = nullptr;
    // The name that messages give scene text in memory (a file is named by its path).
    std::string name = "<memory>";
};

// A scene that cannot be converted, a mesh file that cannot be encoded or written, or
// options that exclude each other. what() is the line the tool prints on standard error
// after "tessloom: ", without the line feed: for a conversion, the scene's path (or the
// options' name) as the tool shows it, ": ", and the reason. A path that opens no scene
// gives the system's reason ("No such file or directory") or "not a regular file".
class ConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The mesh file of the scene at `path` (a regular file, which must not change while it is
// read), or of the scene text `sceneText`. Throws ConvertError.
MeshFile convert(const std::filesystem::path& path, const ConvertOptions& options = {});
MeshFile convert(std::span<const std::byte> sceneText, const ConvertOptions& options = {});

// Every mesh of the scene, in file order, each converted as the scene without the others,
// as the tool's --each writes them (one for a scene without *GEOMOBJECT meshes). `mesh` and
// `merge` must not be set. Throws ConvertError.
std::vector<MeshFile> convertEach(const std::filesystem::path& path,
                                  const ConvertOptions& options = {});
std::vector<MeshFile> convertEach(std::span<const std::byte> sceneText,
                                  const ConvertOptions& options = {});

// The bytes of the mesh file. Throws ConvertError when a count or a name does not fit the
// file's fields.
std::vector<std::byte> encode(const MeshFile& mesh);

// The mesh file written to `path` through a temporary file beside it, renamed into place
// once complete: the path keeps what it held when anything fails. Throws ConvertError,
// whose line names the path as the tool shows it (control bytes escaped); a path holding a
// NUL byte is refused.
void write(const MeshFile& mesh, const std::filesystem::path& path);

}  // namespace tessloom
