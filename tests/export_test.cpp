// The picture and the glTF file, read back through the libraries that wrote them, and the
// glTF file through a consumer we did not write.
#include <cairo.h>
#include <gtest/gtest.h>

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <tuple>

#include "inspect/gltf.h"
#include "inspect/preview.h"
#include "testutil.h"

namespace {

using namespace tessloom;
using meshfile::Layout;
using meshfile::MeshFile;
namespace fs = std::filesystem;

const fs::path kExample = fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase";

using test::exampleMesh;

// The files the tests write, in one folder removed at exit.
fs::path temporary(const char* name) {
    static const test::TempDir dir;
    return dir / name;
}

struct Png {
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface;
    explicit Png(const fs::path& path)
        : surface(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
    int width() const { return cairo_image_surface_get_width(surface.get()); }
    int height() const { return cairo_image_surface_get_height(surface.get()); }
    std::uint32_t pixel(int x, int y) const {
        const unsigned char* row = cairo_image_surface_get_data(surface.get()) +
                                   y * cairo_image_surface_get_stride(surface.get());
        std::uint32_t p;
        std::memcpy(&p, row + 4 * x, 4);
        return p & 0xffffff;
    }
};

// Two triangles for the square with corners a and c, both with one stored normal.
void addSquare(MeshFile& mesh, meshfile::Position a, meshfile::Position c,
               meshfile::Position normal) {
    const auto first = static_cast<std::int32_t>(mesh.vertices.size());
    // a square in an axis plane: the coordinate a and c share stays, the others span
    const bool flatX = a.x == c.x, flatY = a.y == c.y;
    const meshfile::Position b = flatY   ? meshfile::Position{c.x, a.y, a.z}
                                 : flatX ? meshfile::Position{a.x, c.y, a.z}
                                         : meshfile::Position{c.x, a.y, a.z};
    const meshfile::Position d = flatY   ? meshfile::Position{a.x, a.y, c.z}
                                 : flatX ? meshfile::Position{a.x, a.y, c.z}
                                         : meshfile::Position{a.x, c.y, a.z};
    mesh.vertices.insert(mesh.vertices.end(), {a, b, c, d});
    for (const auto& [i, j, k] : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
        meshfile::FaceRecord f;
        f.a = first + i;
        f.b = first + j;
        f.c = first + k;
        f.faceNormal = f.normalA = f.normalB = f.normalC = normal;
        mesh.faces.push_back(f);
    }
}

// A face of no area at p: drawn as the one pixel under p.
void addPoint(MeshFile& mesh, meshfile::Position p, meshfile::Position normal) {
    const auto v = static_cast<std::int32_t>(mesh.vertices.size());
    mesh.vertices.push_back(p);
    meshfile::FaceRecord f;
    f.a = f.b = f.c = v;
    f.faceNormal = normal;
    mesh.faces.push_back(f);
}

// Faces are lit by a light along (0.4, 0.7, 0.6) whichever way they turn: a normal along it
// (or against it) shows the face's base colour, one at right angles to it a quarter of it.
constexpr meshfile::Position kAlongLight{4, 7, 6}, kAcrossLight{7, -4, 0};
constexpr std::uint32_t kGrey = 0x999999;    // no entry: 0.6 of 255 = 153
constexpr std::uint32_t kShadow = 0x262626;  // a quarter of it: 38.25
constexpr std::uint32_t kPanel = 0x212429;   // the background: 0.13 0.14 0.16 of 255

// Within one step per channel of cairo's rounding.
bool near(std::uint32_t pixel, std::uint32_t colour) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = static_cast<int>(pixel >> shift & 255),
                  b = static_cast<int>(colour >> shift & 255);
        if (std::abs(a - b) > 1) return false;
    }
    return true;
}
::testing::AssertionResult near(const Png& picture, int x, int y, std::uint32_t colour) {
    if (near(picture.pixel(x, y), colour)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << x << ", " << y << ": " << std::hex << picture.pixel(x, y);
}

tinygltf::Model loadGlb(const fs::path& glb) {
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, glb.string())) << error;
    return model;
}

// Pixels of known geometry in each panel of a 400x300 picture: panels of 200x150, front top
// left (centre 100, 75), top top right (300, 75), perspective bottom right (300, 225); each
// scaled so that the diagonal of the box of the mesh's vertices spans 0.9 of 150 pixels
// about its middle.
TEST(Preview, KnownGeometryLandsWhereItShould) {
    const fs::path png = temporary("preview.png");
    struct Pixel {
        int x, y;
        std::uint32_t colour;
    };
    struct Case {
        const char* what;
        MeshFile mesh;
        std::vector<Pixel> pixels;
    };
    // An L in the ground plane: x 0..2 by z 0..1, and x 0..1 by z 1..2. Seen from above (x
    // to the right, z down the picture), 135 / sqrt(8) = 47.7 pixels a unit about (1, 0, 1).
    MeshFile ell;
    addSquare(ell, {0, 0, 0}, {2, 0, 1}, kAlongLight);
    addSquare(ell, {0, 0, 1}, {1, 0, 2}, kAlongLight);
    // Two squares facing the front: the near one (z = 1, x and y -1..1) listed first, the
    // far one (z = -1, twice as wide) after it and lit differently. Centre (0, 0, 0), size
    // sqrt(4^2 + 4^2 + 2^2) = 6, 22.5 pixels a unit.
    MeshFile pair;
    addSquare(pair, {-1, -1, 1}, {1, 1, 1}, kAlongLight);
    addSquare(pair, {-2, -2, -1}, {2, 2, -1}, kAcrossLight);
    // Two points on the y axis, (0, +-1, 0), without a box to frame: centre 0, size 2, 67.5
    // pixels a unit. The perspective view tilts 25 degrees down, so (0, 1, 0) is cos 25 =
    // 0.9063 up the view and sin 25 = 0.4226 towards the eye, which is 3 sizes (6) from the
    // centre: seen 6 / (6 - 0.4226) = 1.0758 times larger, 0.9063 * 1.0758 * 67.5 = 65.81
    // pixels above the panel's centre, at y 225 - 65.81 = 159.19 (without the perspective,
    // 163.82); (0, -1, 0) at 6 / 6.4226 = 0.9342 times, y 225 + 57.15 = 282.15 (286.18).
    MeshFile axis;
    addPoint(axis, {0, 1, 0}, kAlongLight);
    addPoint(axis, {0, -1, 0}, kAlongLight);
    axis.bounds.minX = std::numeric_limits<float>::quiet_NaN();
    // The same on the x axis, (+-1, 0, 0): turned 35 degrees about y, then tilted, (1, 0, 0)
    // is cos 35 = 0.8192 to the right, sin 35 sin 25 = 0.2424 down and sin 35 cos 25 =
    // 0.5198 towards the eye: 6 / 5.4802 = 1.0949 times larger, at x 300 + 60.54, y 225 +
    // 17.91 (without the perspective, 355.29, 241.36); (-1, 0, 0) at 6 / 6.5198 = 0.9203
    // times, x 300 - 50.88, y 225 - 15.06 (244.71, 208.64).
    MeshFile across = axis;
    across.vertices = {{1, 0, 0}, {-1, 0, 0}};
    const Case cases[] = {
        {"the L from above",
         ell,
         {{276, 51, kGrey},      // x 0.5, z 0.5: the arm along x
          {324, 51, kGrey},      // x 1.5, z 0.5: its far end
          {265, 110, kGrey},     // x 0.27, z 1.73: the arm along z
          {330, 105, kPanel}}},  // x 1.63, z 1.63: the L's missing corner
        {"the nearer square over the farther",
         pair,
         {{100, 75, kGrey},      // the middle: the near square
          {60, 75, kShadow},     // x -1.78: the far square only
          {300, 225, kGrey},     // the perspective's middle: the near square
          {100, 140, kPanel}}},  // y -2.89: below both
        {"the perspective's nearer point larger",
         axis,
         {{300, 159, kGrey},
          {300, 163, kPanel},
          {300, 282, kGrey},
          {300, 286, kPanel},
          // the front view, without perspective: 67.5 pixels either way of 75
          {100, 7, kGrey},
          {100, 142, kGrey}}},
        {"the perspective's nearer point larger, across",
         across,
         {{360, 242, kGrey}, {355, 241, kPanel}, {249, 209, kGrey}, {244, 208, kPanel}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(inspect::writePreview(c.mesh, png.string(), 400, 300).drawn, c.mesh.faces.size());
        const Png picture(png);
        for (const auto& [x, y, colour] : c.pixels) {
            EXPECT_TRUE(near(picture, x, y, colour));
        }
    }
}

// Each face is lit from its stored normal, or from its winding where none is stored, by the
// light along (0.4, 0.7, 0.6), |L| = sqrt(1.01) = 1.00499: its base colour times 0.25 plus
// 0.75 times the cosine between them, the same in every panel. One square facing the front,
// x and y -1..1, in a 400x300 picture: the middles of the front and perspective panels show it.
TEST(Preview, FacesAreLitFromTheirNormal) {
    const fs::path png = temporary("lit.png");
    struct Case {
        const char* what;
        meshfile::Position normal;
        std::vector<float> diffuse;  // the one entry's, or none
        std::uint32_t colour;
    };
    const Case cases[] = {
        {"along the light: the base colour", kAlongLight, {}, kGrey},
        {"against the light: the same", {-0.4f, -0.7f, -0.6f}, {}, kGrey},
        {"at right angles: a quarter", kAcrossLight, {}, kShadow},
        // 0.25 of 255 = 63.75, of 127.5 = 31.9
        {"at right angles, an entry's colour", kAcrossLight, {1, 0.5f, 0}, 0x402000},
        // +z: cosine 0.6 / 1.00499 = 0.59702; 0.6 * (0.25 + 0.75 * 0.59702) * 255 = 106.76
        {"none stored: the winding's, +z", {0, 0, 0}, {}, 0x6b6b6b},
        // +y: cosine 0.7 / 1.00499 = 0.69653; 0.6 * (0.25 + 0.75 * 0.69653) * 255 = 118.18
        {"a stored normal, not the winding", {0, 1, 0}, {}, 0x767676},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MeshFile mesh;
        addSquare(mesh, {-1, -1, 0}, {1, 1, 0}, c.normal);
        if (!c.diffuse.empty()) {
            mesh.layout = Layout::kWithMaterials;
            mesh.materials.emplace_back();
            std::copy(c.diffuse.begin(), c.diffuse.end(), mesh.materials[0].diffuse);
        }
        inspect::writePreview(mesh, png.string(), 400, 300);
        const Png picture(png);
        EXPECT_TRUE(near(picture, 100, 75, c.colour));
        EXPECT_TRUE(near(picture, 300, 225, c.colour));
    }
}

// Faces that cannot be drawn (a vertex not finite, an index past the vertices) are counted
// and passed over, as is a bounding box that is not finite; a mesh with no face to draw
// still gives a picture of the asked size.
TEST(Preview, WhatCannotBeDrawnIsCounted) {
    const fs::path png = temporary("broken.png");
    constexpr float kInf = std::numeric_limits<float>::infinity();
    MeshFile broken;
    addSquare(broken, {-1, -1, 0}, {1, 1, 0}, kAlongLight);  // vertices 0..3, drawable
    broken.vertices.push_back({kInf, 0, 0});
    broken.vertices.push_back({0, std::numeric_limits<float>::quiet_NaN(), 0});
    broken.faces.push_back(broken.faces[0]);
    broken.faces.back().b = 4;  // not finite
    broken.faces.push_back(broken.faces[0]);
    broken.faces.back().c = 5;  // not a number
    broken.faces.push_back(broken.faces[0]);
    broken.faces.back().a = 99;  // no such vertex
    broken.bounds.maxX = kInf;
    MeshFile none = broken;
    none.faces.erase(none.faces.begin(), none.faces.begin() + 2);
    struct Case {
        const char* what;
        const MeshFile& mesh;
        std::size_t drawn, skipped;
    };
    const MeshFile empty;
    const Case cases[] = {
        {"empty", empty, 0, 0},
        {"two squares' halves drawn, three faces not", broken, 2, 3},
        {"no face drawable", none, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto s = inspect::writePreview(c.mesh, png.string(), 200, 100);
        EXPECT_EQ(std::make_pair(s.drawn, s.skipped), std::make_pair(c.drawn, c.skipped));
        const Png picture(png);
        EXPECT_EQ(std::make_pair(picture.width(), picture.height()), std::make_pair(200, 100));
    }
}

// Faces take their material entry's colour as the HTML page gives it, and the legend in the
// top right corner shows each entry's colour. A 400x300 picture: the front panel is 200x150.
// Three squares facing the front, in z = 0, lit along the light so that they show their
// colour unshaded: A (x -2..0, y -1..1) with index 0, B (x 0..2, y -1..1) with index 1, C
// (x -2..2, y 1..2) with index 99. Centre (0, 0.5, 0), size 5 (the box's diagonal), so
// 0.9 * 150 / 5 = 27 pixels a unit: the centres of A, B and C fall on pixels (73, 88),
// (127, 88) and (100, 48). Legend row i spans y 8 + 16i to 24 + 16i; its swatch x 380..392,
// so pixel (386, 16 + 16i) is in it, and (377, 16 + 16i) is the legend's background between
// the text and the swatch.
TEST(Preview, FacesAndLegendInTheirEntrysColour) {
    const fs::path png = temporary("entries.png");
    const std::uint32_t none = kGrey, red = 0xff0000, green = 0x00ff00, blue = 0x0000ff;
    const std::uint32_t pink = 0xff0099;  // (2, -1, 0.6) clamped
    const std::uint32_t hue0 = 0xd74242;  // HSL (0, 0.65, 0.55): 0.8425 0.2575 0.2575
    const std::uint32_t hue1 = 0x426dd7;  // HSL (0.618034, ...): 0.2575 0.4282 0.8425
    using Diffuse = std::vector<std::array<float, 3>>;
    struct Case {
        const char* what;
        Diffuse diffuse;  // one per entry
        int width;
        // the colours of A, B and C, then the swatch of each legend row (0: no swatch there)
        std::vector<std::uint32_t> colours;
    };
    Diffuse twelve;
    for (int e = 0; e < 12; ++e) twelve.push_back({static_cast<float>(e) / 11, 0, 1});
    const Diffuse grey{{.5f, .5f, .5f}, {.5f, .5f, .5f}}, redBlue{{1, 0, 0}, {0, 0, 1}};
    const Case cases[] = {
        {"each its diffuse colour; 99 none", redBlue, 400, {red, blue, none, red, blue, none}},
        {"a hue each when colours repeat", grey, 400, {hue0, hue1, none, hue0, hue1, none}},
        {"clamped to 0..1", {{2, -1, 0.6f}, {0, 0, 1}}, 400, {pink, blue, none, pink, blue, none}},
        {"one entry serves every index", {{0, 1, 0}}, 400, {green, green, green, green, kPanel}},
        {"no material section: all grey", {}, 400, {none, none, none, none, kPanel}},
        // twelve entries: six rows, then one that counts the rest, then "no entry"
        {"many: six and a count",
         twelve,
         400,
         {blue, 0x1700ff, none, blue, 0x1700ff, 0x2e00ff, 0x4600ff, 0x5d00ff, 0x7400ff, 0, none}},
        {"no legend in a narrow picture", redBlue, 398, {red, blue, none}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MeshFile mesh;
        mesh.layout = c.diffuse.empty() ? Layout::kWithoutMaterials : Layout::kWithMaterials;
        for (const auto& d : c.diffuse) {
            meshfile::MaterialEntry m;
            std::copy(d.begin(), d.end(), m.diffuse);
            m.name = "m";
            mesh.materials.push_back(m);
        }
        addSquare(mesh, {-2, -1, 0}, {0, 1, 0}, kAlongLight);
        addSquare(mesh, {0, -1, 0}, {2, 1, 0}, kAlongLight);
        addSquare(mesh, {-2, 1, 0}, {2, 2, 0}, kAlongLight);
        const std::int32_t index[] = {0, 0, 1, 1, 99, 99};
        for (std::size_t f = 0; f < 6; ++f) mesh.faces[f].material = index[f];
        inspect::writePreview(mesh, png.string(), c.width, 300);
        const Png picture(png);
        EXPECT_TRUE(near(picture, 73, 88, c.colours[0]));
        EXPECT_TRUE(near(picture, 127, 88, c.colours[1]));
        EXPECT_TRUE(near(picture, 100, 48, c.colours[2]));
        for (std::size_t i = 3; i < c.colours.size(); ++i) {
            const int y = 16 * static_cast<int>(i - 2);
            if (c.colours[i] == 0) {
                EXPECT_EQ(picture.pixel(386, y), picture.pixel(377, y)) << "row " << i - 3;
            } else {
                EXPECT_TRUE(near(picture, 386, y, c.colours[i])) << "row " << i - 3;
            }
        }
        if (c.colours.size() == 3) {
            EXPECT_TRUE(near(picture, c.width - 14, 16, kPanel));
        }
    }
}

TEST(Gltf, TheBoxReadsBackThroughTinyGltf) {
    const fs::path glb = temporary("box.glb");
    const MeshFile mesh = exampleMesh();
    const auto summary = inspect::writeGltf(mesh, glb.string());
    const tinygltf::Model model = loadGlb(glb);
    ASSERT_EQ(model.meshes.size(), 1u);
    ASSERT_EQ(model.meshes[0].primitives.size(), 1u);
    const auto& primitive = model.meshes[0].primitives[0];
    EXPECT_EQ(primitive.material, 0);
    ASSERT_EQ(model.materials.size(), 1u);
    EXPECT_EQ(model.materials[0].pbrMetallicRoughness.baseColorFactor[0],
              static_cast<double>(mesh.materials[0].diffuse[0]));
    EXPECT_EQ(model.images.at(0).uri, "crate.tga");
    // every box corner has one texture vertex and one normal per face: 24 corners
    const auto& positions =
        model.accessors[static_cast<std::size_t>(primitive.attributes.at("POSITION"))];
    EXPECT_EQ(positions.count, summary.vertices);
    EXPECT_EQ(positions.count, 24u);
    EXPECT_EQ(positions.minValues, (std::vector<double>{-10, 0, -10}));
    EXPECT_EQ(positions.maxValues, (std::vector<double>{10, 20, 10}));
    const auto& indices = model.accessors[static_cast<std::size_t>(primitive.indices)];
    EXPECT_EQ(indices.count, 36u);
    EXPECT_EQ(indices.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
    const auto& view = model.bufferViews[static_cast<std::size_t>(indices.bufferView)];
    const auto* index = model.buffers[0].data.data() + view.byteOffset + indices.byteOffset;
    for (std::size_t i = 0; i < 36; ++i) {
        std::uint32_t corner;
        std::memcpy(&corner, index + 4 * i, 4);
        EXPECT_LT(corner, 24u) << i;
    }

    // with sub-materials each face's index picks its entry; an index past them, none
    MeshFile subs = mesh;
    subs.materials.push_back(subs.materials[0]);
    for (std::size_t i = 0; i < subs.faces.size(); ++i)
        subs.faces[i].material = static_cast<std::int32_t>(i % 3);
    inspect::writeGltf(subs, glb.string());
    const tinygltf::Model split = loadGlb(glb);
    std::vector<int> materials;
    for (const auto& p : split.meshes.at(0).primitives) materials.push_back(p.material);
    EXPECT_EQ(materials, (std::vector<int>{0, 1, -1}));
}

// What a glTF file cannot hold is refused with the first offender, or left out; read back,
// the file has the attributes the mesh can fill, names as URIs and UTF-8.
TEST(Gltf, WhatCannotBeWrittenIsRefusedOrLeftOut) {
    const fs::path glb = temporary("edge.glb");
    struct Case {
        const char* name;
        void (*change)(MeshFile&);
        const char* refusal;
        bool texCoords, normals;
    };
    const Case cases[] = {
        {"vertex out of range", [](MeshFile& m) { m.faces[3].b = 8; },
         "face 3 corner b names vertex 8 of 8", false, false},
        {"texture out of range", [](MeshFile& m) { m.faces[0].tc = -1; },
         "face 0 corner c names texture vertex -1 of 12", false, false},
        {"not finite", [](MeshFile& m) { m.vertices[5].z = std::nanf(""); },
         "vertex 5 is not finite", false, false},
        {"texture vertex not finite",
         [](MeshFile& m) { m.texVertices[11].v = -std::numeric_limits<float>::infinity(); },
         "texture vertex 11 is not finite", false, false},
        {"both", [](MeshFile&) {}, nullptr, true, true},
        {"no texture vertices", [](MeshFile& m) { m.texVertices.clear(); }, nullptr, false, true},
        {"no normals: the winding's",
         [](MeshFile& m) {
             for (auto& f : m.faces) f.normalA = f.normalB = f.normalC = {};
         },
         nullptr, true, true},
    };
    for (const Case& c : cases) {
        MeshFile mesh = exampleMesh();
        c.change(mesh);
        if (c.refusal) {
            try {
                inspect::writeGltf(mesh, glb.string());
                ADD_FAILURE() << c.name;
            } catch (const inspect::ExportError& e) {
                EXPECT_STREQ(e.what(), c.refusal);
            }
            continue;
        }
        inspect::writeGltf(mesh, glb.string());
        const tinygltf::Model model = loadGlb(glb);
        const auto& attributes = model.meshes.at(0).primitives.at(0).attributes;
        EXPECT_EQ(attributes.count("POSITION"), 1u) << c.name;
        EXPECT_EQ(attributes.count("TEXCOORD_0"), c.texCoords ? 1u : 0u) << c.name;
        EXPECT_EQ(attributes.count("NORMAL"), c.normals ? 1u : 0u) << c.name;
        // a texture is bound only where texture coordinates can place it
        EXPECT_EQ(model.materials.at(0).pbrMetallicRoughness.baseColorTexture.index,
                  c.texCoords ? 0 : -1)
            << c.name;
    }

    // a bitmap name with a space, a percent sign and a byte that is not UTF-8; no faces
    MeshFile named = exampleMesh();
    named.materials[0].name =
        "my cr\xff"
        "ate 50%.tga";
    named.faces.clear();
    // a diffuse colour glTF's 0..1 factors cannot hold is clamped, not a number as 0
    named.materials[0].diffuse[0] = std::nanf("");
    named.materials[0].diffuse[1] = 2;
    named.materials[0].diffuse[2] = -1;
    inspect::writeGltf(named, glb.string());
    const tinygltf::Model model = loadGlb(glb);
    EXPECT_EQ(model.images.at(0).uri, "my%20cr%FFate%2050%25.tga");
    EXPECT_EQ(model.materials.at(0).name,
              "my cr\xef\xbf\xbd"
              "ate 50%.tga");
    EXPECT_EQ(model.materials.at(0).pbrMetallicRoughness.baseColorFactor,
              (std::vector<double>{0, 1, 0, 1}));
    EXPECT_TRUE(model.meshes.empty());
    ASSERT_EQ(model.scenes.size(), 1u);
    EXPECT_TRUE(model.scenes[0].nodes.empty());
}

// An attribute (three floats of NORMAL, two of TEXCOORD_0) of each corner of each face, in
// face order (one primitive); a TEXCOORD_0 has 0 as its third.
std::vector<std::array<float, 3>> cornerValues(const fs::path& glb,
                                               const char* attribute = "NORMAL") {
    const tinygltf::Model model = loadGlb(glb);
    std::vector<std::array<float, 3>> out;
    if (model.meshes.size() != 1 || model.meshes[0].primitives.size() != 1) return out;
    const auto& primitive = model.meshes[0].primitives[0];
    auto bytesOf = [&](int accessor) {
        const auto& a = model.accessors.at(static_cast<std::size_t>(accessor));
        const auto& view = model.bufferViews.at(static_cast<std::size_t>(a.bufferView));
        return model.buffers[0].data.data() + view.byteOffset + a.byteOffset;
    };
    const std::size_t floats = std::string_view(attribute) == "NORMAL" ? 3 : 2;
    const auto& indices = model.accessors.at(static_cast<std::size_t>(primitive.indices));
    const unsigned char* index = bytesOf(primitive.indices);
    const unsigned char* values = bytesOf(primitive.attributes.at(attribute));
    for (std::size_t i = 0; i < indices.count; ++i) {
        std::uint32_t corner;
        std::memcpy(&corner, index + 4 * i, 4);
        std::array<float, 3> n{};
        std::memcpy(n.data(), values + 4 * floats * corner, 4 * floats);
        out.push_back(n);
    }
    return out;
}

// Every corner gets a unit normal: the stored one normalised, or where it is zero, infinite
// or not a number, the face's winding normal (B - A) x (C - A) normalised, +y for a face of
// no area. The summary counts the faces that took the winding's.
TEST(Gltf, EveryNormalWrittenIsAUnitOne) {
    const fs::path glb = temporary("normals.glb");
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::array<std::int32_t, 3> corners;
        std::array<float, 9> stored, written;  // the normals of corners a, b and c
    };
    // vertices: 0 (0 0 0), 1 (2 0 0), 2 (0 3 0), 3 (0 0 4), 4 (3e38 0 0), 5 (0 3e38 0),
    // 6 (-3e38 -3e38 0)
    const Case cases[] = {
        // stored, not of unit length
        {"long", {0, 1, 2}, {0, 0, 5, 0, 3, 4, 1e-45f, 0, 0}, {0, 0, 1, 0, 0.6f, 0.8f, 1, 0, 0}},
        // (C - A) x (B - A) = (0 3 0) x (2 0 0) = (0 0 -6)
        {"none stored", {0, 2, 1}, {}, {0, 0, -1, 0, 0, -1, 0, 0, -1}},
        // corner b's zero: (B - A) x (D - A) = (2 0 0) x (0 0 4) = (0 -8 0)
        {"b zero", {0, 1, 3}, {1, 0, 0, -0.0f, 0, 0, 0, 1, 0}, {1, 0, 0, 0, -1, 0, 0, 1, 0}},
        // not finite: (D - B) x (A - B) = (-2 0 4) x (-2 0 0) = (0 -8 0)
        {"nan", {1, 3, 0}, {nan, 0, 0, 0, inf, 0, 0, 0, -inf}, {0, -1, 0, 0, -1, 0, 0, -1, 0}},
        {"no area", {0, 1, 1}, {}, {0, 1, 0, 0, 1, 0, 0, 1, 0}},
        // near the float range: (F - E) x (G - E) = (-3e38 3e38 0) x (-6e38 -3e38 0), +z
        {"huge", {4, 5, 6}, {}, {0, 0, 1, 0, 0, 1, 0, 0, 1}},
    };
    MeshFile mesh;
    mesh.vertices = {{0, 0, 0},     {2, 0, 0},     {0, 3, 0},          {0, 0, 4},
                     {3e38f, 0, 0}, {0, 3e38f, 0}, {-3e38f, -3e38f, 0}};
    for (const Case& c : cases) {
        meshfile::FaceRecord f;
        f.material = -1;
        std::tie(f.a, f.b, f.c) = std::tuple(c.corners[0], c.corners[1], c.corners[2]);
        const float* n = c.stored.data();
        f.normalA = {n[0], n[1], n[2]};
        f.normalB = {n[3], n[4], n[5]};
        f.normalC = {n[6], n[7], n[8]};
        mesh.faces.push_back(f);
    }
    const auto summary = inspect::writeGltf(mesh, glb.string());
    EXPECT_EQ(summary.windingFaces, 5u);
    EXPECT_EQ(summary.noAreaFaces, 1u);
    const auto normals = cornerValues(glb);
    ASSERT_EQ(normals.size(), 3 * std::size(cases));
    for (std::size_t f = 0; f < std::size(cases); ++f) {
        for (std::size_t i = 0; i < 9; ++i) {
            EXPECT_NEAR(normals[3 * f + i / 3][i % 3], cases[f].written[i], 1e-6f)
                << cases[f].name << " corner " << i / 3;
        }
    }

    // a mesh whose every normal is given keeps them, and counts none
    const auto box = inspect::writeGltf(exampleMesh(), glb.string());
    EXPECT_EQ(std::make_pair(box.windingFaces, box.noAreaFaces), std::make_pair(0ul, 0ul));
}

// glTF's texture origin is the image's top left, the mesh file's its bottom left: V becomes
// 1 - V, U stays, values outside 0..1 (tiling) included.
TEST(Gltf, TextureCoordinatesTurnUpsideDown) {
    const fs::path glb = temporary("uv.glb");
    MeshFile mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.texVertices = {{0.25f, 0.75f}, {2, -1}, {0, 1}};
    meshfile::FaceRecord f;
    std::tie(f.a, f.b, f.c, f.ta, f.tb, f.tc) = std::tuple(0, 1, 2, 0, 1, 2);
    f.normalA = f.normalB = f.normalC = {0, 0, 1};
    mesh.faces.push_back(f);
    inspect::writeGltf(mesh, glb.string());
    const auto uv = cornerValues(glb, "TEXCOORD_0");
    const std::vector<std::array<float, 3>> expected = {{0.25f, 0.25f, 0}, {2, 2, 0}, {0, 0, 0}};
    EXPECT_EQ(uv, expected);
}

// gltfpack, a consumer we did not write, accepts the example and a sub-material scene.
TEST(Gltf, AnotherToolAcceptsTheFiles) {
    if (std::system("command -v gltfpack >/dev/null") != 0) GTEST_SKIP() << "no gltfpack";
    std::vector<fs::path> scenes = {kExample};
    const fs::path subs = fs::path(TESSLOOM_CORPUS_DIR) / "kgca__Turret.ASE";
    if (fs::exists(subs)) scenes.push_back(subs);
    const fs::path glb = temporary("in.glb"), out = temporary("out.glb");
    for (const fs::path& scene : scenes) {
        test::TextFile text(test::readFile(scene));
        MeshConverter converter(text.get(), "unused.obj");
        const auto bytes = encodeMeshFile(converter);
        const Layout layout =
            converter.referencedMaterial() ? Layout::kWithMaterials : Layout::kWithoutMaterials;
        inspect::writeGltf(meshfile::readMeshFile(meshfile::SpanSource(bytes), layout),
                           glb.string());
        const std::string command =
            "gltfpack -i '" + glb.string() + "' -o '" + out.string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << scene;
    }
}

}  // namespace
