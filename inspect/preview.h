// A picture of a mesh file: four labelled views drawn and written as PNG through cairo.
#pragma once

#include <stdexcept>
#include <string>

#include "meshfile/output.h"
#include "meshfile/reader.h"

namespace tessloom::inspect {

class PreviewError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct PreviewSummary {
    std::size_t drawn = 0;    // faces drawn in every panel (as a pixel where smaller than one)
    std::size_t skipped = 0;  // faces with a bad index or a coordinate that is not finite
};

// Front, top and side orthographic views and a three-quarter perspective view, faces
// flat-shaded from their normals under a fixed light and drawn back to front, with the
// stored bounding box as a thin frame.
// The PNG's bytes go to `out`, which the caller commits; an output error passes through.
PreviewSummary writePreview(const meshfile::MeshFile& mesh, output::Output& out, int width,
                            int height);
// The same, committed to `path`.
PreviewSummary writePreview(const meshfile::MeshFile& mesh, const std::string& path, int width,
                            int height);

}  // namespace tessloom::inspect
