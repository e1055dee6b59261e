// Grid scenes written as an exporter writes them, with their expected mesh files.
#include "bench/scenegen.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessloom::bench {

namespace {

// Numbers are fixed point in units of 1e-4, printed with four decimals as exporters do.
using Fixed = std::int64_t;

class Text {
  public:
    Text(std::FILE* file, bool crlf) : file_(file), crlf_(crlf) { data_.reserve(kFlushAt + 4096); }
    ~Text() { flush(); }
    Text& operator<<(const char* s) {
        data_ += s;
        return *this;
    }
    Text& fixed(Fixed k) {
        if (k < 0) data_ += '-';
        const std::uint64_t a = static_cast<std::uint64_t>(k < 0 ? -k : k);
        integer(static_cast<std::int64_t>(a / 10000));
        char frac[5] = {0, 0, 0, 0, 0};
        std::uint64_t f = a % 10000;
        for (int i = 3; i >= 0; --i, f /= 10) frac[i] = static_cast<char>('0' + f % 10);
        data_ += '.';
        data_ += frac;
        return *this;
    }
    Text& integer(std::int64_t v, std::size_t width = 0) {
        char digits[24];
        int n = 0;
        std::uint64_t a = static_cast<std::uint64_t>(v < 0 ? -v : v);
        do {
            digits[n++] = static_cast<char>('0' + a % 10);
            a /= 10;
        } while (a != 0);
        if (v < 0) digits[n++] = '-';
        for (std::size_t pad = static_cast<std::size_t>(n); pad < width; ++pad) data_ += ' ';
        while (n > 0) data_ += digits[--n];
        return *this;
    }
    void endLine() {
        data_ += crlf_ ? "\r\n" : "\n";
        if (data_.size() >= kFlushAt) flush();
    }
    void flush() {
        if (!data_.empty() && std::fwrite(data_.data(), 1, data_.size(), file_) != data_.size()) {
            throw std::runtime_error("cannot write the scene");
        }
        data_.clear();
    }

  private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
    std::FILE* file_;
    bool crlf_;
    std::string data_;
};

// The float a reader must get from the printed number: the C library's conversion of the
// very text written.
float asPrinted(Fixed k) {
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%04lld", k < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(k) / 10000),
                  static_cast<long long>(std::llabs(k) % 10000));
    return std::strtof(text, nullptr);
}

struct Grid {
    std::int64_t cols, rows, faces;
    std::int64_t vertexCount() const { return (cols + 1) * (rows + 1); }
    std::int64_t index(std::int64_t i, std::int64_t j) const { return j * (cols + 1) + i; }
    void corners(std::int64_t f, std::int64_t c[3]) const {
        const std::int64_t quad = f / 2, i = quad % cols, j = quad / cols;
        if (f % 2 == 0) {
            c[0] = index(i, j), c[1] = index(i + 1, j), c[2] = index(i + 1, j + 1);
        } else {
            c[0] = index(i + 1, j + 1), c[1] = index(i, j + 1), c[2] = index(i, j);
        }
    }
    Fixed px(std::int64_t v) const { return (2 * (v % (cols + 1)) - cols) * 5000; }
    Fixed py(std::int64_t v) const { return (2 * (v / (cols + 1)) - rows) * 5000; }
    Fixed pz(std::int64_t v) const { return (v * 7919) % 60001 - 30000; }
    Fixed tu(std::int64_t v) const { return (v % (cols + 1)) * 10000 / cols; }
    Fixed tv(std::int64_t v) const { return (v / (cols + 1)) * 10000 / rows; }
    static Fixed normal(std::int64_t seed, int axis) {
        return axis == 2 ? 9000 + seed % 1000 : (seed * (axis ? 17 : 31)) % 2001 - 1000;
    }
    static std::int32_t mtlId(std::int64_t f) { return static_cast<std::int32_t>(f % 7); }
};

struct Map {
    std::string bitmap;
    Fixed uTiling, vTiling, uOffset, vOffset;
};

Map mapOf(int sub) {
    if (sub < 0) return {"C:\\maps\\terrain.tga", 20000, 30000, 1000, 2000};
    return {"C:\\maps\\layer" + std::to_string(sub) + ".tga", 10000 + 5000 * sub,
            20000 + 2500 * sub, 0, 500 * sub};
}

void writeMaterial(Text& t, const char* indent, int sub) {
    const Map map = mapOf(sub);
    const std::string in(indent);
    t << in.c_str() << "*MATERIAL_AMBIENT 0.5882\t0.5882\t0.5882", t.endLine();
    t << in.c_str() << "*MATERIAL_DIFFUSE 0.5882\t0.5882\t0.5882", t.endLine();
    t << in.c_str() << "*MATERIAL_SPECULAR 0.9000\t0.9000\t0.9000", t.endLine();
    t << in.c_str() << "*MATERIAL_SHINE 0.1000", t.endLine();
    t << in.c_str() << "*MATERIAL_SHINESTRENGTH 0.0000", t.endLine();
    t << in.c_str() << "*MAP_DIFFUSE {", t.endLine();
    t << in.c_str() << "\t*MAP_NAME \"Map #1\"", t.endLine();
    t << in.c_str() << "\t*MAP_CLASS \"Bitmap\"", t.endLine();
    t << in.c_str() << "\t*BITMAP \"" << map.bitmap.c_str() << "\"", t.endLine();
    t << in.c_str() << "\t*UVW_U_OFFSET ", t.fixed(map.uOffset), t.endLine();
    t << in.c_str() << "\t*UVW_V_OFFSET ", t.fixed(map.vOffset), t.endLine();
    t << in.c_str() << "\t*UVW_U_TILING ", t.fixed(map.uTiling), t.endLine();
    t << in.c_str() << "\t*UVW_V_TILING ", t.fixed(map.vTiling), t.endLine();
    t << in.c_str() << "\t*BITMAP_FILTER Pyramidal", t.endLine();
    t << in.c_str() << "}", t.endLine();
}

class MeshOut {
  public:
    explicit MeshOut(std::FILE* f) : file_(f) {}
    void i32(std::int64_t v) { u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v))); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    void bytes(const std::string& s) { data_ += s; }
    void u32(std::uint32_t v) {
        for (int s = 0; s < 32; s += 8) data_ += static_cast<char>(v >> s);
        if (data_.size() >= (1u << 20)) flush();
    }
    void flush() {
        if (std::fwrite(data_.data(), 1, data_.size(), file_) != data_.size()) {
            throw std::runtime_error("cannot write the expected mesh");
        }
        data_.clear();
    }

  private:
    std::FILE* file_;
    std::string data_;
};

void writeMaterialEntry(MeshOut& m, int sub) {
    const Map map = mapOf(sub);
    for (int i = 0; i < 6; ++i) m.f32(asPrinted(5882));
    for (int i = 0; i < 3; ++i) m.f32(asPrinted(9000));
    m.f32(asPrinted(1000));
    m.f32(asPrinted(map.uTiling));
    m.f32(asPrinted(map.vTiling));
    m.f32(asPrinted(map.uOffset));
    m.f32(asPrinted(map.vOffset));
    m.i32(0);
    m.i32(1);
    const std::string name = map.bitmap.substr(map.bitmap.rfind('\\') + 1);
    m.i32(static_cast<std::int64_t>(name.size()));
    m.bytes(name);
}

// The mesh file, from the grid's own numbers: positions (p, q, r) stored as (p, r, -q),
// texture coordinates scaled by the tiling of the first face using them, bounds from 0.
void writeExpected(const SceneOptions& o, const Grid& g, std::FILE* file) {
    MeshOut m(file);
    const int subs = o.subMaterials;
    m.i32(subs > 0 ? subs : 1);
    if (subs > 0) {
        for (int s = 0; s < subs; ++s) writeMaterialEntry(m, s);
    } else {
        writeMaterialEntry(m, -1);
    }
    const std::int64_t nv = g.vertexCount();
    m.i32(nv);
    double radius = 0;
    float box[6] = {0, 0, 0, 0, 0, 0};  // min x, max x, min y, max y, min z, max z
    for (std::int64_t v = 0; v < nv; ++v) {
        const float p[3] = {asPrinted(g.px(v)), asPrinted(g.pz(v)), -asPrinted(g.py(v))};
        for (int a = 0; a < 3; ++a) {
            m.f32(p[a]);
            box[2 * a] = std::min(box[2 * a], p[a]);
            box[2 * a + 1] = std::max(box[2 * a + 1], p[a]);
        }
        const double d = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
        if (d > radius) radius = static_cast<float>(d);
    }
    std::vector<float> uv(static_cast<std::size_t>(2 * nv));
    for (std::int64_t v = 0; v < nv; ++v) {
        uv[static_cast<std::size_t>(2 * v)] = asPrinted(g.tu(v));
        uv[static_cast<std::size_t>(2 * v + 1)] = asPrinted(g.tv(v));
    }
    std::vector<bool> seen(static_cast<std::size_t>(nv));
    for (std::int64_t f = 0; f < g.faces; ++f) {
        std::int64_t c[3];
        g.corners(f, c);
        const Map map = mapOf(subs > 0 ? Grid::mtlId(f) % subs : -1);
        for (std::int64_t t : c) {
            if (seen[static_cast<std::size_t>(t)]) continue;
            seen[static_cast<std::size_t>(t)] = true;
            uv[static_cast<std::size_t>(2 * t)] *= asPrinted(map.uTiling);
            uv[static_cast<std::size_t>(2 * t + 1)] *= asPrinted(map.vTiling);
        }
    }
    m.i32(nv);
    for (float x : uv) m.f32(x);
    m.i32(g.faces);
    for (std::int64_t f = 0; f < g.faces; ++f) {
        std::int64_t c[3];
        g.corners(f, c);
        m.i32(subs > 0 ? Grid::mtlId(f) % subs : 0);
        for (std::int64_t v : c) m.i32(v);
        for (std::int64_t v : c) m.i32(v);
        if (!o.normals) {
            for (int k = 0; k < 12; ++k) m.f32(0.0f);  // none given: all stay zero
            continue;
        }
        m.f32(asPrinted(Grid::normal(f, 0)));
        m.f32(asPrinted(Grid::normal(f, 2)));
        m.f32(-asPrinted(Grid::normal(f, 1)));
        for (std::int64_t v : c) {
            m.f32(asPrinted(Grid::normal(v, 0)));
            m.f32(asPrinted(Grid::normal(v, 2)));
            m.f32(-asPrinted(Grid::normal(v, 1)));
        }
    }
    m.f32(static_cast<float>(radius));
    for (float b : box) m.f32(b);
    m.flush();
}

}  // namespace

void generateScene(const SceneOptions& o, std::FILE* scene, std::FILE* expected) {
    const std::int64_t faces = std::max<std::int64_t>(o.faces, 2);
    Grid g{};
    g.cols = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::sqrt(double(faces) / 2)));
    g.rows = (faces + 2 * g.cols - 1) / (2 * g.cols);
    g.faces = faces;
    const std::int64_t nv = g.vertexCount();

    Text t(scene, o.crlf);
    t << "*3DSMAX_ASCIIEXPORT\t200", t.endLine();
    t << "*COMMENT \"AsciiExport Version  2,00 - synthetic grid\"", t.endLine();
    t << "*SCENE {", t.endLine();
    t << "\t*SCENE_FILENAME \"grid.max\"", t.endLine();
    t << "\t*SCENE_FIRSTFRAME 0", t.endLine();
    t << "\t*SCENE_LASTFRAME 100", t.endLine();
    t << "}", t.endLine();
    t << "*MATERIAL_LIST {", t.endLine();
    t << "\t*MATERIAL_COUNT 1", t.endLine();
    t << "\t*MATERIAL 0 {", t.endLine();
    if (o.subMaterials > 0) {
        t << "\t\t*MATERIAL_NAME \"Multi\"", t.endLine();
        t << "\t\t*MATERIAL_CLASS \"Multi/Sub-Object\"", t.endLine();
        t << "\t\t*NUMSUBMTLS ", t.integer(o.subMaterials), t.endLine();
        for (int s = 0; s < o.subMaterials; ++s) {
            t << "\t\t*SUBMATERIAL ", t.integer(s), t << " {", t.endLine();
            t << "\t\t\t*MATERIAL_NAME \"Layer\"", t.endLine();
            writeMaterial(t, "\t\t\t", s);
            t << "\t\t}", t.endLine();
        }
    } else {
        t << "\t\t*MATERIAL_NAME \"Terrain\"", t.endLine();
        t << "\t\t*MATERIAL_CLASS \"Standard\"", t.endLine();
        writeMaterial(t, "\t\t", -1);
    }
    t << "\t}", t.endLine();
    t << "}", t.endLine();
    t << "*GEOMOBJECT {", t.endLine();
    t << "\t*NODE_NAME \"Grid01\"", t.endLine();
    t << "\t*MESH {", t.endLine();
    t << "\t\t*TIMEVALUE 0", t.endLine();
    t << "\t\t*MESH_NUMVERTEX ", t.integer(nv), t.endLine();
    t << "\t\t*MESH_NUMFACES ", t.integer(faces), t.endLine();
    t << "\t\t*MESH_VERTEX_LIST {", t.endLine();
    for (std::int64_t v = 0; v < nv; ++v) {
        t << "\t\t\t*MESH_VERTEX ", t.integer(v, 5), t << "\t", t.fixed(g.px(v)), t << "\t",
            t.fixed(g.py(v)), t << "\t", t.fixed(g.pz(v)), t.endLine();
    }
    t << "\t\t}", t.endLine();
    t << "\t\t*MESH_FACE_LIST {", t.endLine();
    for (std::int64_t f = 0; f < faces; ++f) {
        std::int64_t c[3];
        g.corners(f, c);
        t << "\t\t\t*MESH_FACE ", t.integer(f, 5), t << ":    A: ", t.integer(c[0], 5),
            t << " B: ", t.integer(c[1], 5), t << " C: ", t.integer(c[2], 5),
            t << " AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING 1 \t*MESH_MTLID ",
            t.integer(Grid::mtlId(f)), t.endLine();
    }
    t << "\t\t}", t.endLine();
    t << "\t\t*MESH_NUMTVERTEX ", t.integer(nv), t.endLine();
    t << "\t\t*MESH_TVERTLIST {", t.endLine();
    for (std::int64_t v = 0; v < nv; ++v) {
        t << "\t\t\t*MESH_TVERT ", t.integer(v), t << "\t", t.fixed(g.tu(v)), t << "\t",
            t.fixed(g.tv(v)), t << "\t0.0000", t.endLine();
    }
    t << "\t\t}", t.endLine();
    t << "\t\t*MESH_NUMTVFACES ", t.integer(faces), t.endLine();
    t << "\t\t*MESH_TFACELIST {", t.endLine();
    for (std::int64_t f = 0; f < faces; ++f) {
        std::int64_t c[3];
        g.corners(f, c);
        t << "\t\t\t*MESH_TFACE ", t.integer(f), t << "\t", t.integer(c[0]), t << "\t",
            t.integer(c[1]), t << "\t", t.integer(c[2]), t.endLine();
    }
    t << "\t\t}", t.endLine();
    t << "\t\t*MESH_NUMCVERTEX 0", t.endLine();
    if (o.normals) t << "\t\t*MESH_NORMALS {", t.endLine();
    for (std::int64_t f = 0; o.normals && f < faces; ++f) {
        std::int64_t c[3];
        g.corners(f, c);
        t << "\t\t\t*MESH_FACENORMAL ", t.integer(f);
        for (int a = 0; a < 3; ++a) t << "\t", t.fixed(Grid::normal(f, a));
        t.endLine();
        for (std::int64_t v : c) {
            t << "\t\t\t\t*MESH_VERTEXNORMAL ", t.integer(v);
            for (int a = 0; a < 3; ++a) t << "\t", t.fixed(Grid::normal(v, a));
            t.endLine();
        }
    }
    if (o.normals) t << "\t\t}", t.endLine();
    t << "\t}", t.endLine();
    t << "\t*PROP_MOTIONBLUR 0", t.endLine();
    t << "\t*PROP_CASTSHADOW 1", t.endLine();
    t << "\t*PROP_RECVSHADOW 1", t.endLine();
    t << "\t*MATERIAL_REF 0", t.endLine();
    t << "}", t.endLine();
    t.flush();
    if (expected) writeExpected(o, g, expected);
}

}  // namespace tessloom::bench
