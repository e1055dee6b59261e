// A picture of a mesh file: four labelled views drawn and written as PNG through cairo.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "meshfile/reader.h"
#include "output/output.h"

namespace tessloom::inspect {

class PreviewError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct PreviewSummary {
    std::size_t drawn = 0;    // faces drawn in every panel (as a pixel where smaller than one)
    std::size_t skipped = 0;  // faces with a bad index or a coordinate that is not finite
};

// The legend's layout, from the picture's top right corner: rows of kLegendRow pixels from
// kLegendMargin down, each with a kLegendSwatch square whose right side is kLegendMargin from
// the picture's right edge, centred in its row. At most kLegendRows rows, and only as many
// as the top right panel holds; no legend in a picture narrower than 400 pixels.
inline constexpr int kLegendMargin = 8, kLegendRow = 16, kLegendSwatch = 12, kLegendRows = 8;

// The material entry a face's index picks, as the HTML page tells it: the one entry of a
// single-entry section whatever the index; with several, the index itself when in range;
// otherwise (and without a material section) -1, none.
std::int32_t entryOfFace(std::int32_t material, std::size_t entries);

// Front, top and side orthographic views and a three-quarter perspective view, faces
// flat-shaded from their normals under a fixed light, the nearest face at each pixel shown,
// with the stored bounding box as a thin frame. Each face has its material entry's colour
// as the HTML page gives it: the entry's diffuse colour, or a hue of its own per entry when
// two used entries share a diffuse colour; grey without an entry. A legend lists the
// entries (the first of many, then how many more) and "no entry" when faces have none.
// The PNG's bytes go to `out`, which the caller commits; an output error passes through.
// `progress`, when given, hears the share of the work done, from 0 to 1, now and then.
PreviewSummary writePreview(const meshfile::MeshFile& mesh, output::Output& out, int width,
                            int height, const std::function<void(double)>& progress = {});
// The same, committed to `path`.
PreviewSummary writePreview(const meshfile::MeshFile& mesh, const std::string& path, int width,
                            int height);

}  // namespace tessloom::inspect
