// The picture and the glTF file, read back through the libraries that wrote them, and the
// glTF file through a consumer we did not write.
#include <cairo.h>
#include <gtest/gtest.h>

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "inspect/gltf.h"
#include "inspect/preview.h"
#include "testutil.h"

namespace {

using namespace tessloom;
using meshfile::Layout;
using meshfile::MeshFile;
namespace fs = std::filesystem;

const fs::path kExample = fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase";

// The example converted and read back.
MeshFile exampleMesh() {
    test::TextFile scene(test::readFile(kExample));
    const auto bytes = encodeMeshFile(MeshConverter(scene.get(), "unused.obj"));
    return meshfile::readMeshFile(meshfile::SpanSource(bytes), Layout::kWithMaterials);
}

fs::path temporary(const char* name) {
    return fs::temp_directory_path() / (std::to_string(::getpid()) + name);
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

TEST(Preview, TheBoxAndMeshesThatCannotBeDrawn) {
    const fs::path png = temporary("preview.png");
    const auto summary = inspect::writePreview(exampleMesh(), png.string(), 400, 300);
    EXPECT_EQ(summary.drawn, 4u * 12);
    const Png box(png);
    ASSERT_EQ(cairo_surface_status(box.surface.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(std::make_pair(box.width(), box.height()), std::make_pair(400, 300));
    // the panels' corners are background; the front panel's centre is the box's face
    const std::uint32_t background = box.pixel(100, 140);
    EXPECT_EQ(box.pixel(5, 140), background);
    const std::uint32_t face = box.pixel(100, 75);
    EXPECT_NE(face, background);
    EXPECT_EQ(box.pixel(300, 75), box.pixel(300, 76));  // top view: one flat face

    // an empty mesh, one with infinities and one whose faces name no vertex: no failure
    MeshFile empty;
    MeshFile broken = exampleMesh();
    broken.vertices[0].x = std::numeric_limits<float>::infinity();
    broken.vertices[1].y = std::numeric_limits<float>::quiet_NaN();
    broken.faces[0].a = 99;
    broken.bounds.maxX = std::numeric_limits<float>::infinity();
    std::size_t unusable = 0;  // faces that touch vertex 0 or 1, or name vertex 99
    for (const auto& f : broken.faces) {
        unusable += f.a == 99 || f.a <= 1 || f.b <= 1 || f.c <= 1;
    }
    EXPECT_EQ(inspect::writePreview(broken, png.string(), 200, 200).skipped, unusable);
    for (const MeshFile* mesh : {&empty, &broken}) {
        const auto s = inspect::writePreview(*mesh, png.string(), 200, 200);
        EXPECT_EQ((s.drawn + s.points) / 4 + s.skipped, mesh->faces.size());
        EXPECT_EQ(Png(png).width(), 200);
    }
    fs::remove(png);
}

TEST(Gltf, TheBoxReadsBackThroughTinyGltf) {
    const fs::path glb = temporary("box.glb");
    const MeshFile mesh = exampleMesh();
    const auto summary = inspect::writeGltf(mesh, glb.string());
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, glb.string())) << error;
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
    const auto* index = reinterpret_cast<const std::uint32_t*>(
        model.buffers[0].data.data() + view.byteOffset + indices.byteOffset);
    const auto& normalView = model.bufferViews[static_cast<std::size_t>(
        model.accessors[static_cast<std::size_t>(primitive.attributes.at("NORMAL"))].bufferView)];
    const auto* normals =
        reinterpret_cast<const float*>(model.buffers[0].data.data() + normalView.byteOffset);
    for (std::size_t i = 0; i < 36; ++i) {
        ASSERT_LT(index[i], 24u);
        const float* n = normals + 3 * index[i];
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-6f);  // normalised
    }

    // with sub-materials each face's index picks its entry; an index past them, none
    MeshFile subs = mesh;
    subs.materials.push_back(subs.materials[0]);
    for (std::size_t i = 0; i < subs.faces.size(); ++i)
        subs.faces[i].material = static_cast<std::int32_t>(i % 3);
    inspect::writeGltf(subs, glb.string());
    tinygltf::Model split;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&split, &error, &warning, glb.string())) << error;
    std::vector<int> materials;
    for (const auto& p : split.meshes.at(0).primitives) materials.push_back(p.material);
    EXPECT_EQ(materials, (std::vector<int>{0, 1, -1}));
    fs::remove(glb);
}

// What a glTF file cannot hold is refused with the first offender, or left out.
TEST(Gltf, WhatCannotBeWrittenIsRefusedOrLeftOut) {
    const fs::path glb = temporary("edge.glb");
    struct Case {
        const char* name;
        void (*change)(MeshFile&);
        const char* refusal;
        const char* leftOut = "";  // the attribute a written file lacks
    };
    const Case cases[] = {
        {"vertex out of range", [](MeshFile& m) { m.faces[3].b = 8; },
         "face 3 corner b names vertex 8 of 8"},
        {"texture out of range", [](MeshFile& m) { m.faces[0].tc = -1; },
         "face 0 corner c names texture vertex -1 of 12"},
        {"not finite", [](MeshFile& m) { m.vertices[5].z = std::nanf(""); },
         "vertex 5 is not finite"},
        {"no texture vertices", [](MeshFile& m) { m.texVertices.clear(); }, nullptr, "TEXCOORD_0"},
        {"no normals",
         [](MeshFile& m) {
             for (auto& f : m.faces) f.normalA = f.normalB = f.normalC = {};
         },
         nullptr, "NORMAL"},
        {"every normal along -x",
         [](MeshFile& m) {
             for (auto& f : m.faces) f.normalA = f.normalB = f.normalC = {-1, 0, 0};
         },
         nullptr},
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
        const auto summary = inspect::writeGltf(mesh, glb.string());
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        std::string error, warning;
        ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, glb.string())) << error;
        const auto& attributes = model.meshes.at(0).primitives.at(0).attributes;
        EXPECT_EQ(attributes.count("TEXCOORD_0"), summary.texCoords ? 1u : 0u) << c.name;
        EXPECT_EQ(attributes.count("NORMAL"), summary.normals ? 1u : 0u) << c.name;
        EXPECT_EQ(attributes.count(c.leftOut), 0u) << c.name;
        EXPECT_EQ(attributes.size(), *c.leftOut ? 2u : 3u) << c.name;  // and POSITION
    }
    fs::remove(glb);
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
    fs::remove(glb);
    fs::remove(out);
}

}  // namespace
