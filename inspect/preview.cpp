// The preview: each panel projects every usable face, sorts by depth and paints back to front.
#include "inspect/preview.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <memory>
#include <numeric>
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

PreviewSummary writePreview(const meshfile::MeshFile& mesh, output::Output& out, int width,
                            int height) {
    PreviewSummary summary;
    // faces that can be drawn: indices in range, corners finite
    std::vector<std::size_t> usable;
    Vec low{HUGE_VAL, HUGE_VAL, HUGE_VAL}, high{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    auto finite = [](const Position& p) {
        return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    };
    const auto numVertex = static_cast<std::int64_t>(mesh.vertices.size());
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
        const auto& face = mesh.faces[f];
        bool ok = true;
        for (const std::int32_t v : {face.a, face.b, face.c}) {
            ok =
                ok && v >= 0 && v < numVertex && finite(mesh.vertices[static_cast<std::size_t>(v)]);
        }
        if (!ok) {
            ++summary.skipped;
            continue;
        }
        usable.push_back(f);
        for (const std::int32_t v : {face.a, face.b, face.c}) {
            const Position& p = mesh.vertices[static_cast<std::size_t>(v)];
            low = {std::min<double>(low.x, p.x), std::min<double>(low.y, p.y),
                   std::min<double>(low.z, p.z)};
            high = {std::max<double>(high.x, p.x), std::max<double>(high.y, p.y),
                    std::max<double>(high.z, p.z)};
        }
    }
    const Vec centre = usable.empty()
                           ? Vec{}
                           : Vec{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
    const double size = usable.empty() ? 1 : std::sqrt(dot(high - low, high - low));

    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> owner(cairo_create(surface.get()),
                                                             cairo_destroy);
    cairo_t* cr = owner.get();
    cairo_set_source_rgb(cr, 0.13, 0.14, 0.16);
    cairo_paint(cr);
    cairo_surface_flush(surface.get());

    const Vec light = unit({0.4, 0.7, 0.6});
    const double panelW = width / 2.0, panelH = height / 2.0;
    std::vector<std::array<Projected, 3>> corners(usable.size());
    std::vector<float> shade(usable.size());
    std::vector<std::size_t> order(usable.size());
    const auto allViews = views();
    for (std::size_t p = 0; p < allViews.size(); ++p) {
        const View& view = allViews[p];
        const double x0 = p % 2 == 1 ? panelW : 0, y0 = p >= 2 ? panelH : 0;
        const Panel panel(view, centre, size, x0, y0, panelW, panelH);
        cairo_save(cr);
        cairo_rectangle(cr, x0, y0, panelW, panelH);
        cairo_clip(cr);
        for (std::size_t i = 0; i < usable.size(); ++i) {
            const auto& face = mesh.faces[usable[i]];
            const Vec a = vec(mesh.vertices[static_cast<std::size_t>(face.a)]);
            const Vec b = vec(mesh.vertices[static_cast<std::size_t>(face.b)]);
            const Vec c = vec(mesh.vertices[static_cast<std::size_t>(face.c)]);
            corners[i] = {panel.project(a), panel.project(b), panel.project(c)};
            Vec n = unit(vec(face.faceNormal));
            if (dot(n, n) == 0) n = unit(cross(b - a, c - a));  // no stored normal: the winding
            // lit from the front of the view whichever way the face turns
            shade[i] = static_cast<float>(0.25 + 0.75 * std::fabs(dot(n, light)));
        }
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&](std::size_t l, std::size_t r) {
            const auto& u = corners[l];
            const auto& v = corners[r];
            return u[0].depth + u[1].depth + u[2].depth < v[0].depth + v[1].depth + v[2].depth;
        });
        for (const std::size_t i : order) {
            const auto& t = corners[i];
            const double s = shade[i];
            cairo_set_source_rgb(cr, 0.55 * s + 0.05, 0.65 * s + 0.05, 0.8 * s + 0.05);
            const double extent =
                std::max({std::fabs(t[1].x - t[0].x), std::fabs(t[2].x - t[0].x),
                          std::fabs(t[1].y - t[0].y), std::fabs(t[2].y - t[0].y)});
            if (extent < 1) {
                // smaller than a pixel: one pixel, far cheaper than a filled path
                cairo_rectangle(cr, std::floor(t[0].x), std::floor(t[0].y), 1, 1);
                cairo_fill(cr);
                continue;
            }
            cairo_move_to(cr, t[0].x, t[0].y);
            cairo_line_to(cr, t[1].x, t[1].y);
            cairo_line_to(cr, t[2].x, t[2].y);
            cairo_close_path(cr);
            cairo_fill_preserve(cr);
            cairo_set_line_width(cr, 0.5);  // closes the hairline gaps between neighbours
            cairo_stroke(cr);
        }
        // the stored box, as a thin frame, where it is finite
        const auto& bb = mesh.bounds;
        const double box[2][3] = {{bb.minX, bb.minY, bb.minZ}, {bb.maxX, bb.maxY, bb.maxZ}};
        bool boxFinite = true;
        for (const auto& corner : box)
            for (const double v : corner) boxFinite = boxFinite && std::isfinite(v);
        if (boxFinite && !usable.empty()) {
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
        cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, std::max(10.0, panelH / 24));
        cairo_move_to(cr, x0 + 10, y0 + 10 + std::max(10.0, panelH / 24));
        cairo_show_text(cr, view.label);
        if (usable.empty()) {
            cairo_move_to(cr, x0 + panelW / 2 - panelH / 6, y0 + panelH / 2);
            cairo_show_text(cr, mesh.faces.empty() ? "empty mesh" : "no drawable face");
        }
        cairo_restore(cr);
    }
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.33);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, panelW, 0);
    cairo_line_to(cr, panelW, height);
    cairo_move_to(cr, 0, panelH);
    cairo_line_to(cr, width, panelH);
    cairo_stroke(cr);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        throw PreviewError(std::string("cannot draw: ") + cairo_status_to_string(cairo_status(cr)));
    }
    PngSink sink{&out, nullptr};
    const cairo_status_t written =
        cairo_surface_write_to_png_stream(surface.get(), writePng, &sink);
    if (sink.error) std::rethrow_exception(sink.error);
    if (written != CAIRO_STATUS_SUCCESS) {
        throw PreviewError(std::string("cannot encode the picture: ") +
                           cairo_status_to_string(written));
    }
    summary.drawn = usable.size();
    return summary;
}

}  // namespace tessloom::inspect
