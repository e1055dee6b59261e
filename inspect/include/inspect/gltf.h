// Exporting a mesh file as glTF 2.0 binary (.glb), which standard 3D tools open.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "meshfile/reader.h"
#include "output/output.h"

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
    // faces with a corner whose stored normal could not be used, which took the normal of
    // the face's winding; of them, those of no area, which took kNoAreaNormal
    std::size_t windingFaces = 0, noAreaFaces = 0;
};

// The normal a face of no area gets where its stored one cannot be used: +y, glTF's up.
inline constexpr meshfile::Position kNoAreaNormal{0, 1, 0};

// Writes `mesh` to `path`. The file's axes are glTF's (y up, right-handed); V is flipped
// (glTF's origin is the image's top left); every corner has a unit normal: its stored one
// normalised or, where that is zero, infinite or not a number, its face's winding normal,
// (B - A) x (C - A) normalised (kNoAreaNormal for a face of no area); a mesh without
// texture vertices gets no texture coordinates; a mesh without faces gives a scene with no
// node. Bitmap names become image URIs, percent-encoded. The bytes go to `out`, which the
// caller commits; an output error passes through. `progress`, when given, hears the share of
// the work done, from 0 to 1, now and then.
GltfSummary writeGltf(const meshfile::MeshFile& mesh, output::Output& out,
                      const std::function<void(double)>& progress = {});
// The same, committed to `path`.
GltfSummary writeGltf(const meshfile::MeshFile& mesh, const std::string& path);

// A relative URI reference for a file name: every byte but letters, digits, "-._~" and "/"
// as %XX, so spaces, "%" and bytes that are not UTF-8 survive.
std::string uriOf(const std::string& name);

}  // namespace tessloom::inspect
