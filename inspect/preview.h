// A picture of a mesh file: four labelled views drawn and written as PNG through cairo.
#pragma once

#include <stdexcept>
#include <string>

#include "meshfile/reader.h"

namespace tessloom::inspect {

class PreviewError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct PreviewSummary {
    std::size_t drawn = 0;    // faces filled as triangles, per panel summed
    std::size_t points = 0;   // faces smaller than a pixel, drawn as one
    std::size_t skipped = 0;  // faces with a bad index or a coordinate that is not finite
};

// Front, top and side orthographic views and a three-quarter perspective view, faces
// flat-shaded from their normals under a fixed light and drawn back to front, with the
// stored bounding box as a thin frame.
PreviewSummary writePreview(const meshfile::MeshFile& mesh, const std::string& path, int width,
                            int height);

}  // namespace tessloom::inspect
