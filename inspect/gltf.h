// Exporting a mesh file as glTF 2.0 binary (.glb), which standard 3D tools open.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "meshfile/output.h"
#include "meshfile/reader.h"

namespace tessloom::inspect {

// What a valid glTF file cannot hold: the message names the first offender.
class ExportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct GltfSummary {
    std::size_t vertices = 0;    // distinct (vertex, texture vertex, normal) corners
    std::size_t primitives = 0;  // one per face material index
    bool texCoords = false, normals = false;
};

// Writes `mesh` to `path`. The file's axes are glTF's (y up, right-handed); V is flipped
// (glTF's origin is the image's top left); corner normals are normalised; a mesh without
// texture vertices gets no texture coordinates, one without normals none; a mesh without
// faces gives a scene with no node. Bitmap names become image URIs, percent-encoded. The
// bytes go to `out`, which the caller commits; an output error passes through. `progress`,
// when given, hears the share of the work done, from 0 to 1, now and then.
GltfSummary writeGltf(const meshfile::MeshFile& mesh, output::Output& out,
                      const std::function<void(double)>& progress = {});
// The same, committed to `path`.
GltfSummary writeGltf(const meshfile::MeshFile& mesh, const std::string& path);

// A relative URI reference for a file name: every byte but letters, digits, "-._~" and "/"
// as %XX, so spaces, "%" and bytes that are not UTF-8 survive.
std::string uriOf(const std::string& name);

}  // namespace tessloom::inspect
