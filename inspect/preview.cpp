// The preview: each panel projects every usable face and fills it through a depth buffer;
// cairo adds the frame, the labels and the legend and encodes the PNG.
#include "inspect/preview.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace tessloom::inspect {

namespace {

using meshfile::Position;

struct Vec {
    double x = 0, y = 0, z = 0;
};

Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec unit(Vec v) {
    const double length = std::sqrt(dot(v, v));
    return length > 0 ? Vec{v.x / length, v.y / length, v.z / length} : Vec{};
}
Vec vec(const Position& p) {
    return {p.x, p.y, p.z};
}

// A view: camera axes (right, up, towards the viewer) and, for perspective, the distance
// of the eye from the centre in units of the mesh's size.
struct View {
    const char* label;
    Vec right, up, back;
    double eye;  // 0: orthographic
};

std::array<View, 4> views() {
    // three-quarter: turned 35 degrees about y, then tilted 25 degrees down
    const double yaw = 35 * M_PI / 180, pitch = 25 * M_PI / 180;
    const Vec right{std::cos(yaw), 0, -std::sin(yaw)};
    const Vec back{std::sin(yaw) * std::cos(pitch), std::sin(pitch),
                   std::cos(yaw) * std::cos(pitch)};
    return {View{"front", {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 0},
            View{"top", {1, 0, 0}, {0, 0, -1}, {0, 1, 0}, 0},
            View{"side", {0, 0, -1}, {0, 1, 0}, {1, 0, 0}, 0},
            View{"perspective", right, cross(back, right), back, 3.0}};
}

struct Projected {
    double x, y, depth;  // screen position; depth grows towards the viewer
};

class Panel {
  public:
    Panel(const View& view, Vec centre, double size, double x0, double y0, double w, double h)
        : view_(view), centre_(centre), size_(size), x0_(x0), y0_(y0), w_(w), h_(h) {
        scale_ = 0.9 * std::min(w, h) / (size > 0 ? size : 1);
    }
    Projected project(Vec p) const {
        const Vec d = p - centre_;
        double x = dot(d, view_.right), y = dot(d, view_.up);
        const double z = dot(d, view_.back);
        if (view_.eye > 0) {
            const double distance = view_.eye * size_ - z;
            const double f = view_.eye * size_ / std::max(distance, 1e-9 * size_);
            x *= f;
            y *= f;
        }
        return {x0_ + w_ / 2 + x * scale_, y0_ + h_ / 2 - y * scale_, z};
    }

  private:
    View view_;
    Vec centre_;
    double size_, x0_, y0_, w_, h_, scale_ = 1;
};

// The colour of each material entry, as the HTML page gives it: the entry's diffuse colour,
// or one hue per entry when two entries that faces use share a diffuse colour (textured
// entries often do). Faces whose index picks no entry, and entries whose diffuse colour is
// not finite, are grey.
struct Rgb {
    double r = 0, g = 0, b = 0;
};
constexpr Rgb kNoEntry{0.6, 0.6, 0.6};

// As three.js's Color.setHSL gives it, in sRGB.
Rgb fromHsl(double h, double s, double l) {
    auto channel = [](double p, double q, double t) {
        if (t < 0) t += 1;
        if (t > 1) t -= 1;
        if (t < 1.0 / 6) return p + (q - p) * 6 * t;
        if (t < 1.0 / 2) return q;
        if (t < 2.0 / 3) return p + (q - p) * 6 * (2.0 / 3 - t);
        return p;
    };
    const double p = l <= 0.5 ? l * (1 + s) : l + s - l * s, q = 2 * l - p;
    return {channel(q, p, h + 1.0 / 3), channel(q, p, h), channel(q, p, h - 1.0 / 3)};
}

}  // namespace

std::int32_t entryOfFace(std::int32_t material, std::size_t entries) {
    if (entries == 1) return 0;
    return material >= 0 && static_cast<std::uint64_t>(material) < entries ? material : -1;
}

namespace {

struct Palette {
    std::vector<Rgb> entries;
    std::vector<std::size_t> faces;  // per entry, and last the faces without one
    bool distinct = false;
};

Palette palette(const meshfile::MeshFile& mesh, const std::vector<std::size_t>& usable) {
    Palette p;
    const std::size_t n = mesh.materials.size();
    p.faces.assign(n + 1, 0);
    for (const std::size_t f : usable) {
        const std::int32_t e = entryOfFace(mesh.faces[f].material, n);
        ++p.faces[e < 0 ? n : static_cast<std::size_t>(e)];
    }
    // two used entries with one diffuse colour (any values that are not finite count as one)
    std::vector<std::array<double, 3>> seen;
    for (std::size_t e = 0; e < n && !p.distinct; ++e) {
        if (p.faces[e] == 0) continue;
        std::array<double, 3> key{};
        for (int k = 0; k < 3; ++k) {
            const float v = mesh.materials[e].diffuse[k];
            key[static_cast<std::size_t>(k)] = std::isfinite(v) ? v : HUGE_VAL;
        }
        p.distinct = std::find(seen.begin(), seen.end(), key) != seen.end();
        seen.push_back(key);
    }
    for (std::size_t e = 0; e < n; ++e) {
        const float* d = mesh.materials[e].diffuse;
        if (p.distinct) {
            p.entries.push_back(
                fromHsl(std::fmod(static_cast<double>(e) * 0.618034, 1), 0.65, 0.55));
        } else if (std::isfinite(d[0]) && std::isfinite(d[1]) && std::isfinite(d[2])) {
            auto unit = [](float v) { return std::clamp<double>(v, 0, 1); };
            p.entries.push_back({unit(d[0]), unit(d[1]), unit(d[2])});
        } else {
            p.entries.push_back(kNoEntry);
        }
    }
    p.entries.push_back(kNoEntry);
    return p;
}

std::uint32_t packed(Rgb c, double shade) {
    auto byte = [&](double v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(v * shade, 0.0, 1.0) * 255));
    };
    return byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

// One panel's pixels in the picture (cairo's RGB24: one native 32-bit word a pixel) and its
// depth buffer, filled by a plain z-buffered triangle fill: cairo's path filling costs
// microseconds a triangle, which a mesh of millions of faces cannot afford. Faces that lie
// behind what is drawn are passed over a tile of 8 x 8 pixels at a time, so that many large
// faces over one another (a mesh stacked on itself) cost their tiles, not their pixels.
class Raster {
  public:
    Raster(std::uint32_t* pixels, std::size_t stride, int x0, int y0, int w, int h,
           std::vector<float>& depth)
        : pixels_(pixels),
          stride_(stride),
          x0_(x0),
          y0_(y0),
          w_(w),
          h_(h),
          tilesX_((w + kTile - 1) / kTile),
          depth_(depth) {
        depth_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), -HUGE_VALF);
        const int tilesY = (h + kTile - 1) / kTile;
        tileFar_.assign(static_cast<std::size_t>(tilesX_) * static_cast<std::size_t>(tilesY),
                        -HUGE_VALF);
        tileEmpty_.resize(tileFar_.size());
        for (int ty = 0; ty < tilesY; ++ty) {
            for (int tx = 0; tx < tilesX_; ++tx) {
                tileEmpty_[static_cast<std::size_t>(ty * tilesX_ + tx)] =
                    std::min(kTile, w - tx * kTile) * std::min(kTile, h - ty * kTile);
            }
        }
    }

    // Fills the pixels whose centres lie in the triangle (edges included, so neighbours
    // leave no gap) where it is nearer than what is there. A triangle that covers no pixel
    // centre still sets the pixel under its centroid.
    void fill(const Projected& a, const Projected& b, const Projected& c, std::uint32_t colour) {
        const double minX = std::min({a.x, b.x, c.x}), maxX = std::max({a.x, b.x, c.x});
        const double minY = std::min({a.y, b.y, c.y}), maxY = std::max({a.y, b.y, c.y});
        // outside the panel, or not finite
        if (!(maxX >= x0_ && minX < x0_ + w_ && maxY >= y0_ && minY < y0_ + h_)) return;
        const int fromX = static_cast<int>(std::ceil(std::max(minX - 0.5, double(x0_))));
        const int toX = static_cast<int>(std::floor(std::min(maxX - 0.5, double(x0_ + w_ - 1))));
        const int fromY = static_cast<int>(std::ceil(std::max(minY - 0.5, double(y0_))));
        const int toY = static_cast<int>(std::floor(std::min(maxY - 0.5, double(y0_ + h_ - 1))));
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        const auto nearest = static_cast<float>(std::max({a.depth, b.depth, c.depth}));
        bool covered = false;
        if (area != 0 && fromX <= toX && fromY <= toY) {
            // edge functions, positive inside whichever way the corners turn
            const double sign = area > 0 ? 1 : -1;
            auto edge = [&](const Projected& p, const Projected& q) {
                const double ex = q.x - p.x, ey = q.y - p.y;
                const double cx = fromX + 0.5 - p.x, cy = fromY + 0.5 - p.y;
                return Edge{-ey * sign, ex * sign, (ex * cy - ey * cx) * sign};
            };
            const Edge e[3] = {edge(b, c), edge(c, a), edge(a, b)};  // weights of a, b, c
            const double scale = 1 / std::fabs(area);
            for (int y = fromY; y <= toY; ++y) {
                const double row = y - fromY;
                const double start[3] = {e[0].at + row * e[0].dy, e[1].at + row * e[1].dy,
                                         e[2].at + row * e[2].dy};
                double low = fromX, high = toX;
                if (!narrow(e, start, fromX, low, high)) continue;
                const int first = static_cast<int>(std::ceil(low));
                const int last = static_cast<int>(std::floor(high));
                const std::size_t tileRow =
                    static_cast<std::size_t>((y - y0_) / kTile) * static_cast<std::size_t>(tilesX_);
                for (int x = first; x <= last; ++x) {
                    const std::size_t tile = tileRow + static_cast<std::size_t>((x - x0_) / kTile);
                    if (!(nearest > tileFar_[tile])) {
                        x += kTile - 1 - (x - x0_) % kTile;  // the whole tile is nearer
                        continue;
                    }
                    const double along = x - fromX;
                    const double w0 = start[0] + along * e[0].dx, w1 = start[1] + along * e[1].dx,
                                 w2 = start[2] + along * e[2].dx;
                    if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                    covered = true;
                    plot(x, y,
                         static_cast<float>((w0 * a.depth + w1 * b.depth + w2 * c.depth) * scale),
                         colour, tile);
                }
            }
        }
        if (!covered) plotCentroid(a, b, c, colour);
    }

  private:
    static constexpr int kTile = 8;

    // An edge function: its value's steps along x and y, and its value at the first centre.
    struct Edge {
        double dx, dy, at;
    };

    // Narrows [low, high] to the row's span where every edge function may be 0 or more, a
    // pixel wider each way than the division says (each pixel is tested exactly after);
    // false when nothing is left. `start` holds each function's value at the row's first
    // centre, fromX.
    static bool narrow(const Edge (&e)[3], const double (&start)[3], int fromX, double& low,
                       double& high) {
        for (int k = 0; k < 3; ++k) {
            if (e[k].dx > 0) {
                low = std::max(low, fromX - start[k] / e[k].dx - 1);
            } else if (e[k].dx < 0) {
                high = std::min(high, fromX - start[k] / e[k].dx + 1);
            } else if (start[k] < 0) {
                high = low - 1;
            }
        }
        return low <= high;
    }

    // The pixel under the triangle's centroid, for one that covers no pixel centre.
    void plotCentroid(const Projected& a, const Projected& b, const Projected& c,
                      std::uint32_t colour) {
        const double cx = (a.x + b.x + c.x) / 3, cy = (a.y + b.y + c.y) / 3;
        if (cx >= x0_ && cx < x0_ + w_ && cy >= y0_ && cy < y0_ + h_) {
            const int x = static_cast<int>(cx), y = static_cast<int>(cy);
            plot(x, y, static_cast<float>((a.depth + b.depth + c.depth) / 3), colour,
                 static_cast<std::size_t>((y - y0_) / kTile * tilesX_ + (x - x0_) / kTile));
        }
    }

    void plot(int x, int y, float depth, std::uint32_t colour, std::size_t tile) {
        float& held = depth_[static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w_) +
                             static_cast<std::size_t>(x - x0_)];
        if (!(depth > held)) return;
        const bool first = held == -HUGE_VALF;
        held = depth;
        pixels_[static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x)] = colour;
        if (first && --tileEmpty_[tile] == 0) {
            // every pixel of the tile drawn: what a face must beat to show there at all (a
            // bound that stays true as pixels only come nearer)
            const int tx = (x - x0_) / kTile * kTile, ty = (y - y0_) / kTile * kTile;
            float far = HUGE_VALF;
            for (int j = ty; j < std::min(ty + kTile, h_); ++j) {
                for (int i = tx; i < std::min(tx + kTile, w_); ++i) {
                    far = std::min(
                        far, depth_[static_cast<std::size_t>(j) * static_cast<std::size_t>(w_) +
                                    static_cast<std::size_t>(i)]);
                }
            }
            tileFar_[tile] = far;
        }
    }

    std::uint32_t* pixels_;
    std::size_t stride_;
    int x0_, y0_, w_, h_, tilesX_;
    std::vector<float>& depth_;
    std::vector<float> tileFar_;  // -inf until every pixel of the tile is drawn
    std::vector<int> tileEmpty_;  // pixels of the tile not drawn yet
};

// The legend: one row per material entry in the picture's top right corner, a swatch of the
// entry's colour at the right and its index and name to the left of it.
void drawLegend(cairo_t* cr, const meshfile::MeshFile& mesh, const Palette& p, int width,
                int height) {
    const std::size_t n = mesh.materials.size();
    const bool none = p.faces[n] > 0;
    const int fit = std::min(kLegendRows, (height / 2 - 2 * kLegendMargin) / kLegendRow);
    if (width < 400 || fit < 1) return;
    struct Row {
        std::string label;
        std::size_t colour;  // entry, or n for the grey of no entry, or SIZE_MAX: no swatch
    };
    std::vector<Row> rows;
    const std::size_t room = static_cast<std::size_t>(fit) - (none ? 1 : 0);
    for (std::size_t e = 0; e < n && room > 0; ++e) {
        if (rows.size() + 1 == room && e + 1 < n) {
            rows.push_back(
                {"and " + output::counted(n - e, "more entry", "more entries"), SIZE_MAX});
            break;
        }
        std::string name = output::escaped(mesh.materials[e].name, output::Escape::kQuoted);
        if (name.size() > 30) name = name.substr(0, 26) + "...\"";
        rows.push_back({std::to_string(e) + " " + name, e});
    }
    if (none) rows.push_back({n == 0 ? "no material section" : "no entry", n});
    if (rows.empty()) return;
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kLegendRow * 0.75);
    double textWidth = 0;
    for (const Row& r : rows) {
        cairo_text_extents_t extents;
        cairo_text_extents(cr, r.label.c_str(), &extents);
        textWidth = std::max(textWidth, extents.x_advance);
    }
    const double swatchX = width - kLegendMargin - kLegendSwatch;
    const double textRight = swatchX - kLegendSwatch / 2.0;
    const double height_ = static_cast<double>(rows.size()) * kLegendRow;
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_rectangle(cr, textRight - textWidth - 6, kLegendMargin - 4,
                    width - kLegendMargin + 4 - (textRight - textWidth - 6), height_ + 8);
    cairo_fill(cr);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double top = kLegendMargin + static_cast<double>(i) * kLegendRow;
        if (rows[i].colour != SIZE_MAX) {
            const Rgb c = p.entries[rows[i].colour];
            cairo_set_source_rgb(cr, c.r, c.g, c.b);
            cairo_rectangle(cr, swatchX, top + (kLegendRow - kLegendSwatch) / 2, kLegendSwatch,
                            kLegendSwatch);
            cairo_fill(cr);
        }
        cairo_text_extents_t extents;
        cairo_text_extents(cr, rows[i].label.c_str(), &extents);
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_move_to(cr, textRight - extents.x_advance, top + kLegendRow * 0.75);
        cairo_show_text(cr, rows[i].label.c_str());
    }
}

// cairo's stream callback: an output error cannot pass through C, so it is kept for after.
struct PngSink {
    output::Output* out;
    std::exception_ptr error;
};

cairo_status_t writePng(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<PngSink*>(closure);
    try {
        sink->out->write(data, length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        sink->error = std::current_exception();
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

}  // namespace

PreviewSummary writePreview(const meshfile::MeshFile& mesh, const std::string& path, int width,
                            int height) {
    output::Output out(path);
    const PreviewSummary summary = writePreview(mesh, out, width, height);
    out.commit();
    return summary;
}

namespace {

// The faces that can be drawn (indices in range, corners finite) and the vertices they use.
struct Drawable {
    std::vector<std::size_t> faces;
    std::vector<char> usedVertex;
    std::size_t skipped = 0;
};

Drawable drawable(const meshfile::MeshFile& mesh) {
    Drawable d;
    std::vector<char> finiteVertex(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const Position& p = mesh.vertices[v];
        finiteVertex[v] = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    }
    const auto numVertex = static_cast<std::int64_t>(mesh.vertices.size());
    d.usedVertex.assign(mesh.vertices.size(), 0);
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
        const auto& face = mesh.faces[f];
        bool ok = true;
        for (const std::int32_t v : {face.a, face.b, face.c}) {
            ok = ok && v >= 0 && v < numVertex && finiteVertex[static_cast<std::size_t>(v)];
        }
        if (!ok) {
            ++d.skipped;
            continue;
        }
        d.faces.push_back(f);
        for (const std::int32_t v : {face.a, face.b, face.c})
            d.usedVertex[static_cast<std::size_t>(v)] = 1;
    }
    return d;
}

// What every panel centres on and scales to: the middle and the diagonal of the box of the
// vertices that drawable faces use.
struct Framing {
    Vec centre;
    double size = 1;
};

Framing framing(const meshfile::MeshFile& mesh, const Drawable& d) {
    if (d.faces.empty()) return {};
    Vec low{HUGE_VAL, HUGE_VAL, HUGE_VAL}, high{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        if (!d.usedVertex[v]) continue;
        const Position& p = mesh.vertices[v];
        low = {std::min<double>(low.x, p.x), std::min<double>(low.y, p.y),
               std::min<double>(low.z, p.z)};
        high = {std::max<double>(high.x, p.x), std::max<double>(high.y, p.y),
                std::max<double>(high.z, p.z)};
    }
    return {Vec{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2},
            std::sqrt(dot(high - low, high - low))};
}

// Each drawable face's colour, lit from the front of the view whichever way the face turns:
// the light is fixed to the mesh, so one shade serves every panel.
std::vector<std::uint32_t> faceColours(const meshfile::MeshFile& mesh, const Drawable& d,
                                       const Palette& colours) {
    const Vec light = unit({0.4, 0.7, 0.6});
    std::vector<std::uint32_t> faceColour(d.faces.size());
    for (std::size_t i = 0; i < d.faces.size(); ++i) {
        const auto& face = mesh.faces[d.faces[i]];
        Vec n = unit(vec(face.faceNormal));
        if (dot(n, n) == 0) {  // no stored normal: the winding
            const Vec a = vec(mesh.vertices[static_cast<std::size_t>(face.a)]);
            n = unit(cross(vec(mesh.vertices[static_cast<std::size_t>(face.b)]) - a,
                           vec(mesh.vertices[static_cast<std::size_t>(face.c)]) - a));
        }
        const std::int32_t e = entryOfFace(face.material, mesh.materials.size());
        const Rgb base =
            colours.entries[e < 0 ? mesh.materials.size() : static_cast<std::size_t>(e)];
        faceColour[i] = packed(base, 0.25 + 0.75 * std::fabs(dot(n, light)));
    }
    return faceColour;
}

// Panel p's place in a picture of width x height: front, top, side, perspective, left to
// right and top to bottom.
struct Rect {
    int x0, y0, w, h;
};

Rect panelRect(std::size_t p, int width, int height) {
    const int halfW = width / 2, halfH = height / 2;
    return {p % 2 == 1 ? halfW : 0, p >= 2 ? halfH : 0, p % 2 == 1 ? width - halfW : halfW,
            p >= 2 ? height - halfH : halfH};
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// A picture of the background colour, or PreviewError.
Surface blankPicture(int width, int height) {
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height),
                    cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                          cairo_destroy);
    cairo_set_source_rgb(cr.get(), 0.13, 0.14, 0.16);
    cairo_paint(cr.get());
    cairo_surface_flush(surface.get());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        throw PreviewError(std::string("cannot draw: ") +
                           cairo_status_to_string(cairo_status(cr.get())));
    }
    return surface;
}

// Every drawable face into every panel's pixels. Progress goes up to four faces' worth per
// face of the `work` there is.
void drawFaces(cairo_surface_t* surface, const meshfile::MeshFile& mesh, const Drawable& d,
               const Framing& frame, const std::vector<std::uint32_t>& faceColour, double work,
               const std::function<void(double)>& progress) {
    auto* pixels = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface));
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface)) / 4;
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    std::vector<Projected> projected(mesh.vertices.size());
    std::vector<float> depth;
    const auto allViews = views();
    // progress: the four panels' faces, reported every so many
    constexpr std::size_t kReportEvery = 1 << 16;
    for (std::size_t p = 0; p < allViews.size(); ++p) {
        const auto [x0, y0, w, h] = panelRect(p, width, height);
        const Panel panel(allViews[p], frame.centre, frame.size, x0, y0, w, h);
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
            if (d.usedVertex[v]) projected[v] = panel.project(vec(mesh.vertices[v]));
        }
        Raster raster(pixels, stride, x0, y0, w, h, depth);
        for (std::size_t i = 0; i < d.faces.size(); ++i) {
            const auto& face = mesh.faces[d.faces[i]];
            raster.fill(projected[static_cast<std::size_t>(face.a)],
                        projected[static_cast<std::size_t>(face.b)],
                        projected[static_cast<std::size_t>(face.c)], faceColour[i]);
            if (progress && i % kReportEvery == kReportEvery - 1) {
                progress((static_cast<double>(p) * static_cast<double>(d.faces.size()) +
                          static_cast<double>(i)) /
                         work);
            }
        }
    }
    cairo_surface_mark_dirty(surface);
}

// The stored bounding box's 12 edges as a thin frame, where every bound is finite.
void drawBox(cairo_t* cr, const Panel& panel, const meshfile::Bounds& bb) {
    const double box[2][3] = {{bb.minX, bb.minY, bb.minZ}, {bb.maxX, bb.maxY, bb.maxZ}};
    for (const auto& corner : box)
        for (const double v : corner)
            if (!std::isfinite(v)) return;
    cairo_set_source_rgba(cr, 0.95, 0.75, 0.3, 0.8);
    cairo_set_line_width(cr, 1);
    for (int e = 0; e < 12; ++e) {
        // the 12 edges: pick the axis the edge runs along and the other two ends
        const int axis = e / 4, i = e % 4;
        Vec from{box[i & 1][0], box[(i >> 1) & 1][1], box[0][2]};
        if (axis == 0) from = {box[0][0], box[i & 1][1], box[(i >> 1) & 1][2]};
        if (axis == 1) from = {box[i & 1][0], box[0][1], box[(i >> 1) & 1][2]};
        Vec to = from;
        if (axis == 0) to.x = box[1][0];
        if (axis == 1) to.y = box[1][1];
        if (axis == 2) to.z = box[1][2];
        const Projected s = panel.project(from), t = panel.project(to);
        cairo_move_to(cr, s.x, s.y);
        cairo_line_to(cr, t.x, t.y);
    }
    cairo_stroke(cr);
}

// Over the faces: each panel's box frame and label (and why it is empty, when it is), the
// lines between the panels, the legend.
void drawOverlay(cairo_t* cr, const meshfile::MeshFile& mesh, const Drawable& d,
                 const Framing& frame, const Palette& colours, int width, int height) {
    const auto allViews = views();
    for (std::size_t p = 0; p < allViews.size(); ++p) {
        const View& view = allViews[p];
        const auto [x0, y0, w, h] = panelRect(p, width, height);
        cairo_save(cr);
        cairo_rectangle(cr, x0, y0, w, h);
        cairo_clip(cr);
        if (!d.faces.empty()) {
            drawBox(cr, Panel(view, frame.centre, frame.size, x0, y0, w, h), mesh.bounds);
        }
        const double label = std::max(10.0, h / 24.0);
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, label);
        cairo_move_to(cr, x0 + 10, y0 + 10 + label);
        cairo_show_text(cr, view.label);
        if (d.faces.empty()) {
            cairo_move_to(cr, x0 + w / 2.0 - h / 6.0, y0 + h / 2.0);
            cairo_show_text(cr, mesh.faces.empty() ? "empty mesh" : "no drawable face");
        }
        cairo_restore(cr);
    }
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.33);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, width / 2, 0);
    cairo_line_to(cr, width / 2, height);
    cairo_move_to(cr, 0, height / 2);
    cairo_line_to(cr, width, height / 2);
    cairo_stroke(cr);
    if (!d.faces.empty()) drawLegend(cr, mesh, colours, width, height);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        throw PreviewError(std::string("cannot draw: ") + cairo_status_to_string(cairo_status(cr)));
    }
}

// The picture as PNG to `out`.
void emit(cairo_surface_t* surface, output::Output& out) {
    PngSink sink{&out, nullptr};
    const cairo_status_t written = cairo_surface_write_to_png_stream(surface, writePng, &sink);
    if (sink.error) std::rethrow_exception(sink.error);
    if (written != CAIRO_STATUS_SUCCESS) {
        throw PreviewError(std::string("cannot encode the picture: ") +
                           cairo_status_to_string(written));
    }
}

}  // namespace

PreviewSummary writePreview(const meshfile::MeshFile& mesh, output::Output& out, int width,
                            int height, const std::function<void(double)>& progress) {
    const Drawable d = drawable(mesh);
    const Framing frame = framing(mesh, d);
    const Surface surface = blankPicture(width, height);
    const Palette colours = palette(mesh, d.faces);
    const double work = 4.0 * static_cast<double>(d.faces.size()) + 1;
    drawFaces(surface.get(), mesh, d, frame, faceColours(mesh, d, colours), work, progress);
    {
        std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                              cairo_destroy);
        drawOverlay(cr.get(), mesh, d, frame, colours, width, height);
    }
    if (progress) progress(4.0 * static_cast<double>(d.faces.size()) / work);
    emit(surface.get(), out);
    return {d.faces.size(), d.skipped};
}

}  // namespace tessloom::inspect
