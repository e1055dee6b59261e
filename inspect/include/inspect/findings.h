// What converting a scene will do to it, line by line: the findings of the converter's passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ase/meshes.h"

namespace tessloom::inspect {

enum class Severity { kWarning, kError };

struct Finding {
    std::uint64_t line = 0;  // 1-based; lines end at a line feed (a lone carriage return does
                             // not end one, as for the converter)
    Severity severity = Severity::kWarning;
    std::string id;  // stable: scripts and tests match on it
    std::string message;
    std::optional<std::size_t> mesh;  // the mesh whose block holds the line, if any
    std::uint64_t offset = 0;         // the byte the finding points at
};

// What the listing shows of a mesh besides its block.
struct Declared {
    std::uint64_t line = 1;  // of its *GEOMOBJECT
    // The last value the count pass read in its block for each of these counts; none in a
    // scene without mesh blocks.
    std::optional<std::int32_t> numVertex, numFaces, numTVertex, numTVFaces, materialRef;
};

struct SceneFindings {
    SceneMeshes meshes;
    std::vector<Declared> declared;  // one per mesh
    // In the order of the file. Findings that come one per element line are told up to 20
    // per mesh and kind; one more line then counts the rest.
    std::vector<Finding> findings;
    std::size_t errors = 0, warnings = 0;      // every finding, the counted ones included
    std::map<std::string, std::size_t> heard;  // the same by id
};

// Runs the conversion's passes over the scene with a listener and turns what it hears into
// findings; nothing is written. The stream must be seekable and is read from its start.
// Throws Rejected when the scene cannot be read at all (a read error, memory), with the
// reason the converter would give.
SceneFindings findScene(std::FILE* file);

// "PATH:LINE: warning: TEXT [ID]", the form editors and build tools jump to; the path's
// control bytes escaped.
std::string findingLine(std::string_view path, const Finding& finding);
// "N errors, M warnings".
std::string summaryLine(const SceneFindings& scene);

}  // namespace tessloom::inspect
