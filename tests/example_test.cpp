// The bundled example scene and, where present, the real exported scenes of the corpus.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "driver/encode_scene.h"
#include "testutil.h"

namespace tessloom {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::readFile;

std::vector<std::uint8_t> convertFile(const fs::path& p) {
    return test::meshBytes(readFile(p));
}

TEST(Example, BoxSectionsHoldTheValuesWorkedOutByHand) {
    const auto bytes = convertFile(fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase");
    ASSERT_EQ(bytes.size(), 1225u);
    Bytes head;  // one entry: colours, shine, tiling, offsets; no reflect/refract, a bitmap
    head.i32(1).f32s({0.5882f, 0.5882f, 0.5882f, 0.5882f, 0.5882f, 0.5882f, 0.9f, 0.9f, 0.9f});
    head.f32s({0.1f, 2, 3, 0.25f, 0.5f}).i32s({0, 1, 9}).text("crate.tga").i32(8);
    // (p, q, r) becomes (p, r, -q)
    for (float r : {0.0f, 20.0f}) {
        for (float q : {-10.0f, 10.0f}) {
            for (float p : {-10.0f, 10.0f}) head.f32s({p, r, -q});
        }
    }
    head.i32(12);
    for (int copy = 0; copy < 3; ++copy) head.f32s({0, 0, 2, 0, 0, 3, 2, 3});  // times (2, 3)
    head.i32s({12, 0, 0, 2, 3, 9, 11, 10});                 // face 0: materialRef 0
    for (int n = 0; n < 4; ++n) head.f32s({0, -1, -0.0f});  // (0, 0, -1) converted
    ASSERT_TRUE(std::equal(head.data.begin(), head.data.end(), bytes.begin()));

    Bytes tail;
    tail.i32s({0, 4, 6, 2, 3, 2, 0});  // face 11
    for (int n = 0; n < 4; ++n) tail.f32s({-1, 0, -0.0f});
    tail.f32s({24.494898f, -10, 10, 0, 20, -10, 10});  // sqrt(600), then the box
    EXPECT_TRUE(std::equal(tail.data.rbegin(), tail.data.rend(), bytes.rbegin()));
}

TEST(Example, LineEndingsAndBlockSizesDoNotChangeTheBytes) {
    const std::string text = readFile(fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase");
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const auto expected = test::meshBytes(text);
    for (std::size_t block : {1, 2, 3, 7, 4096}) {
        EXPECT_EQ(test::meshBytes(crlf, block), expected) << block;
        EXPECT_EQ(test::meshBytes(text, block), expected) << block;
    }
}

// The counts as a plain line reader sees them: a count keyword first on its line.
std::map<std::string, std::int64_t> lineCounts(const std::string& text) {
    std::map<std::string, std::int64_t> counts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword;
        std::int64_t value = 0;
        if (words >> keyword >> value) counts[keyword] = value;
    }
    return counts;
}

std::int32_t int32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    return static_cast<std::int32_t>(v);
}

TEST(Corpus, EveryExportedSceneConvertsAndTheSizeFollowsItsCounts) {
    const fs::path dir = TESSLOOM_CORPUS_DIR;
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
    int scenes = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".ase" && ext != ".ASE") continue;
        ++scenes;
        auto counts = lineCounts(readFile(entry.path()));
        const auto bytes = convertFile(entry.path());
        std::size_t at = 0;
        if (counts["*MATERIAL_COUNT"] > 0) {
            const std::int32_t entries = int32At(bytes, 0);
            at = 4;
            for (std::int32_t e = 0; e < std::max(entries, 0); ++e)
                at += 68 + static_cast<std::size_t>(int32At(bytes, at + 64));
        }
        const std::int64_t nv = counts["*MESH_NUMVERTEX"], nt = counts["*MESH_NUMTVERTEX"];
        const std::int64_t nf = counts["*MESH_NUMFACES"];
        EXPECT_EQ(int32At(bytes, at), nv) << entry.path();
        EXPECT_EQ(bytes.size(),
                  at + static_cast<std::size_t>(4 + 12 * nv + 4 + 8 * nt + 4 + 76 * nf + 28))
            << entry.path();
    }
    EXPECT_GT(scenes, 0);
}

}  // namespace
}  // namespace tessloom
