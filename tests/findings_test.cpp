// The scene findings: which line each rule the conversion follows silently is reported on.
#include "inspect/findings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ase/diagnostics.h"
#include "testutil.h"

#ifdef TESSLOOM_INSPECT_BINARY
#include <nlohmann/json.hpp>

#include "binary.h"
#endif

namespace tessloom {
namespace {

namespace fs = std::filesystem;
using inspect::Severity;
using Found = std::vector<std::pair<std::uint64_t, std::string>>;

inspect::SceneFindings find(std::string_view text) {
    test::TextFile file(text);
    return inspect::findScene(file.get());
}

Found lineIds(const inspect::SceneFindings& scene) {
    Found found;
    for (const auto& f : scene.findings) found.emplace_back(f.line, f.id);
    return found;
}

// The findings of what a conversion loses come with most small scenes here (they give no
// normals): they are left out where a row is about the other rules.
Found withoutLosses(Found found, const Found& expected) {
    for (const char* id : {"zero-tiling", "normals-apart", "no-normals"}) {
        if (std::any_of(expected.begin(), expected.end(),
                        [&](const auto& e) { return e.second == id; })) {
            continue;
        }
        std::erase_if(found, [&](const auto& f) { return f.second == id; });
    }
    return found;
}

// A line of 262 characters before `rest`: a 10-character token's line is cut after the
// next 254, so `rest` is what the pass reads next, as if a line began there.
std::string longLine(std::string_view rest) {
    return "*COMMENT " + std::string(252, 'x') + " " + std::string(rest);
}

// A control-Z as the last byte of the first block the scanner reads, then `tail`: a first
// line of 63 bytes and lines of 64 before it, so it starts line kDefaultBlockSize / 64 + 1.
std::string controlZAtBlockEnd(std::string_view tail) {
    std::string text = "*MESH_NUMVERTEX 0" + std::string(45, ' ') + "\n";
    for (std::size_t i = 1; i < kDefaultBlockSize / 64; ++i) {
        text += "*COMMENT " + std::string(54, 'x') + "\n";
    }
    return text + "\x1a" + std::string(tail);
}

TEST(Findings, EachRuleIsReportedOnItsLine) {
    const std::string kWraps =
        "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 2\n}\n*MESH_NUMVERTEX 1\n"
        "*MESH_VERTEX 0 0 0 0\n*MESH_NUMFACES 3\n"
        "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 5\n"
        "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 5\n"    // same value: told once
        "*MESH_FACE 2: A: 0 B: 0 C: 0 *MESH_MTLID -1\n";  // negative: no entry
    const std::string kTiling =
        "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 2\n"
        "*SUBMATERIAL 0 {\n*UVW_U_TILING 2\n*UVW_V_TILING 2\n}\n"
        "*SUBMATERIAL 1 {\n*UVW_U_TILING 4\n*UVW_V_TILING 4\n}\n}\n"
        "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n*MESH_NUMFACES 3\n"
        "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n"
        "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 1\n"
        "*MESH_FACE 2: A: 0 B: 0 C: 0 *MESH_MTLID 1\n"
        "*MESH_NUMTVERTEX 1\n*MESH_TVERT 0 0.5 0.5 0\n*MESH_NUMTVFACES 3\n"
        "*MESH_TFACE 0 0 0 0\n*MESH_TFACE 1 0 0 0\n*MESH_TFACE 2 0 0 0\n";  // once per vertex
    const struct {
        const char* what;
        std::string text;
        Found expected;
    } cases[] = {
        {"a clean scene", "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2 3\n", {}},
        {"meshes before the last",
         "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n}\n}\n"
         "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n}\n}\n"
         "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n}\n}\n",
         {{1, "several-meshes"}, {7, "several-meshes"}}},
        {"counts beyond the scene's size, and a material that is not there",
         "*MESH_NUMVERTEX 1000\n*MATERIAL_COUNT 1\n*MATERIAL_REF 3\n*MESH_NUMFACES -1\n",
         {{1, "count-too-large"}, {3, "material-ref"}, {4, "count-too-large"}}},
        {"a sub-material count beyond the scene's size",
         "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 900\n",
         {{3, "count-too-large"}}},
        {"the last of several counts is the one reported",
         "*MESH_NUMVERTEX 1\n*MESH_NUMVERTEX 500\n",
         {{2, "count-too-large"}}},
        {"indices outside their tables",
         "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2 3\n*MESH_VERTEX 1 1 2 3\n"
         "*MESH_VERTEX -1 1 2 3\n*MESH_TVERT 0 0 0\n"
         "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n*MESH_TFACE 0 0 0 0\n"
         "*MESH_FACENORMAL 0 0 0 1\n",
         {{3, "index-out-of-range"},
          {4, "index-out-of-range"},
          {5, "index-out-of-range"},
          {6, "index-out-of-range"},
          {7, "index-out-of-range"},
          {8, "index-out-of-range"}}},
        {"indices no line gives",
         "*MESH_NUMVERTEX 3\n*MESH_VERTEX 1 0 0 0\n*MESH_NUMTVERTEX 1\n*MESH_NUMFACES 2\n"
         "*MESH_FACE 0: A: 1 B: 1 C: 1 *MESH_MTLID 0\n*MESH_NUMTVFACES 2\n"
         "*MESH_TFACE 1 0 0 0\n*MESH_FACE 1: A: 1 B: 1 C: 1 *MESH_MTLID 0\n",
         {{1, "missing-elements"}, {3, "missing-elements"}, {6, "missing-elements"}}},
        {"corners beyond the vertices and texture vertices",
         "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n*MESH_NUMFACES 1\n"
         "*MESH_FACE 0: A: 0 B: 0 C: 1 *MESH_MTLID 0\n*MESH_NUMTVERTEX 1\n"
         "*MESH_TVERT 0 0 0\n*MESH_NUMTVFACES 1\n*MESH_TFACE 0 0 -1 0\n",
         {{4, "corner-out-of-range"}, {8, "corner-out-of-range"}}},
        {"a face whose material id is on a later line",
         "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n*MESH_NUMFACES 2\n"
         "*MESH_FACE 0: A: 0 B: 0 C: 0\n*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 0\n",
         {{3, "missing-elements"}, {4, "face-without-mtlid"}}},
        {"a face with no material id after it",
         "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n*MESH_NUMFACES 1\n"
         "*MESH_FACE 0: A: 0 B: 0 C: 0\n\n",
         {{4, "face-without-mtlid"}}},
        {"material ids at or above the sub-material count",
         kWraps,
         {{8, "mtlid-wraps"}, {10, "mtlid-wraps"}}},
        {"a texture vertex of two tilings", kTiling, {{23, "tiling-conflict"}}},
        {"more texture faces than faces",
         "*MESH_NUMFACES 0\n*MESH_NUMTVFACES 1\n",
         {{2, "tvfaces-beyond-faces"}}},
        {"values that are no numbers",
         "*MESH_NUMVERTEX 3\n*MESH_VERTEX 0 1.#QNAN 0 0\n*MESH_VERTEX 1 abc 0 0\n"
         "*MESH_VERTEX 2 1 2 3e\n*MESH_VERTEX x 1 2 3\n*MESH_NUMTVFACES 0x\n",
         {{2, "unreadable-number"},
          {3, "unreadable-number"},
          {5, "unreadable-number"},
          {6, "unreadable-number"}}},
        {"sub-materials of a sub-material",
         "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 1\n*SUBMATERIAL 0 {\n"
         "*NUMSUBMTLS 2\n",
         {{5, "nested-submaterials"}}},
        {"text after a control-Z",
         "*MESH_NUMVERTEX 0\n\x1a*MESH_NUMVERTEX 5\n",
         {{2, "ignored-after-eof"}}},
        {"a control-Z at the very end", "*MESH_NUMVERTEX 0\n\x1a", {}},
        {"a control-Z that ends a block and the text", controlZAtBlockEnd(""), {}},
        {"a control-Z that ends a block, text in the next",
         controlZAtBlockEnd("*MESH_NUMVERTEX 5\n"),
         {{kDefaultBlockSize / 64 + 1, "ignored-after-eof"}}},
        {"a keyword in the rest of a cut line",
         "*MESH_NUMVERTEX 1\n" + longLine("*MESH_VERTEX 0 1 2 3\n") + longLine("x y\n") +
             "*MESH_VERTEX 0 1 2 3\n*COMMENT " + std::string(140, 'y') + "\n",
         {{2, "long-line"}}},
        {"entries without tiling at their lines",
         "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 3\n*SUBMATERIAL 0 {\n}\n"
         "*SUBMATERIAL 1 {\n*UVW_U_TILING 2\n}\n*SUBMATERIAL 2 {\n}\n}\n*MESH_NUMVERTEX 1\n"
         "*MESH_NUMFACES 3\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n"
         "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 1\n*MESH_FACE 2: A: 0 B: 0 C: 0 *MESH_MTLID 2\n"
         "*MESH_NUMTVERTEX 2\n*MESH_NUMTVFACES 2\n*MESH_TFACE 0 0 0 0\n*MESH_TFACE 1 1 1 1\n",
         // sub-material 2 scales nothing
         {{4, "zero-tiling"},
          {6, "zero-tiling"},
          {12, "missing-elements"},
          {17, "missing-elements"}}},
        {"a material without tiling",
         "*MATERIAL_COUNT 2\n*MATERIAL 1 {\n}\n*MATERIAL 0 {\n}\n*MESH_NUMVERTEX 1\n"
         "*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n*MESH_TFACE 0 0 0 0\n",
         {{4, "zero-tiling"},
          {6, "missing-elements"},
          {7, "missing-elements"},
          {8, "missing-elements"}}},
        {"normals apart, and none, in two meshes",
         "*GEOMOBJECT {\n*MESH {\n*MESH_NUMFACES 2\n*MESH_FACENORMAL 0 0 0 1\n"
         "*MESH_FACENORMAL 1 0 0 1\n*MESH_VERTEXNORMAL 0 0 0 1\n}\n}\n"
         "*GEOMOBJECT {\n*MESH {\n*MESH_NUMFACES 1\n}\n}\n",
         {{1, "several-meshes"},
          {4, "normals-apart"},
          {9, "no-normals"},
          {11, "missing-elements"}}},
        {"no normals in a scene without blocks",
         "*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n*MESH_VERTEX 0 0 0 0\n"
         "*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n}\n",
         {{3, "no-normals"}}},
        {"lines end at line feeds only",
         "*MESH_NUMVERTEX 1\r\n*MESH_VERTEX 0 0 0 0\r*MESH_VERTEX 1 0 0 0\r\n",
         {{2, "index-out-of-range"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(withoutLosses(lineIds(find(c.text)), c.expected), c.expected);
    }
}

TEST(Findings, AllTogetherKeepTheirLinesMeshesAndSeverities) {
    const std::string scene =
        "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 2\n"                       // 1-3
        "*SUBMATERIAL 0 {\n*UVW_U_TILING 2\n*UVW_V_TILING 2\n*NUMSUBMTLS 3\n}\n"  // 4-8
        "*SUBMATERIAL 1 {\n*UVW_U_TILING 4\n*UVW_V_TILING 4\n}\n}\n"              // 9-13
        "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n}\n}\n"                       // 14-18
        "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_VERTEX 0 0 0 0\n"       // 19-22
        "*MESH_VERTEX 1 1.#QNAN 0 0\n*MESH_VERTEX 7 0 0 0\n*MESH_NUMFACES 3\n"    // 23-25
        "*MESH_FACE 0: A: 0 B: 1 C: 5 *MESH_MTLID 0\n"                            // 26
        "*MESH_FACE 1: A: 0 B: 1 C: 2\n"                                          // 27
        "*MESH_FACE 2: A: 0 B: 1 C: 2 *MESH_MTLID 3\n"                            // 28
        "*MESH_NUMTVERTEX 1\n*MESH_TVERT 0 0.5 0.5 0\n*MESH_NUMTVFACES 4\n"       // 29-31
        "*MESH_TFACE 0 0 0 0\n*MESH_TFACE 1 0 0 0\n" +                            // 32-33
        longLine("*MESH_TFACE 2 0 0 0\n") +
        "}\n}\n\x1a trailing\n";  // 34-37
    const auto found = find(scene);
    const Found expected = {
        {7, "nested-submaterials"}, {14, "several-meshes"},       {19, "no-normals"},
        {21, "missing-elements"},   {23, "unreadable-number"},    {24, "index-out-of-range"},
        {25, "missing-elements"},   {26, "corner-out-of-range"},  {27, "face-without-mtlid"},
        {27, "mtlid-wraps"},        {31, "tvfaces-beyond-faces"}, {33, "tiling-conflict"},
        {34, "long-line"},          {37, "ignored-after-eof"}};
    EXPECT_EQ(lineIds(found), expected);
    EXPECT_EQ(found.errors, 0u);
    EXPECT_EQ(found.warnings, expected.size());
    for (const auto& f : found.findings) {
        SCOPED_TRACE(f.id);
        // the material list and what follows the last block lie in no mesh
        const std::optional<std::size_t> mesh =
            f.line < 14 || f.line == 37 ? std::nullopt
                                        : std::optional<std::size_t>(f.line < 19 ? 0 : 1);
        EXPECT_EQ(f.mesh, mesh);
        EXPECT_EQ(f.severity, Severity::kWarning);
    }
    // the face whose line is passed over is named by its line
    const auto passed = std::find_if(found.findings.begin(), found.findings.end(),
                                     [](const auto& f) { return f.id == "face-without-mtlid"; });
    ASSERT_NE(passed, found.findings.end());
    EXPECT_NE(passed->message.find("line 28"), std::string::npos) << passed->message;

    const auto errors = find("*MESH_NUMVERTEX 1000\n*MATERIAL_COUNT 1\n*MATERIAL_REF 3\n");
    EXPECT_EQ(errors.errors, 2u);
    for (const auto& f : errors.findings) EXPECT_EQ(f.severity, Severity::kError);
}

// A keyword that ends a few bytes before the first read block does: the values after it come
// with the next block, which takes the place of the keyword's bytes in the buffer.
TEST(Findings, AKeywordAtABlockEndIsNamedAndItsCountListed) {
    auto atBlockEnd = [](const std::string& line) {
        std::string text = "*GEOMOBJECT {\n*MESH {\n";
        const std::string comment = "*COMMENT " + std::string(90, 'x') + "\n";
        while (text.size() + comment.size() < kDefaultBlockSize - 20) text += comment;
        text.resize(kDefaultBlockSize - 20, ' ');
        text += line;
        for (std::size_t more = 0; more < kDefaultBlockSize; more += comment.size()) {
            text += comment;
        }
        return text + "}\n}\n";
    };
    const auto vertex = find(atBlockEnd("*MESH_VERTEX 0 abc 0 0\n"));
    const auto unreadable = std::find_if(vertex.findings.begin(), vertex.findings.end(),
                                         [](const auto& f) { return f.id == "unreadable-number"; });
    ASSERT_NE(unreadable, vertex.findings.end());
    EXPECT_TRUE(unreadable->message.starts_with("*MESH_VERTEX: \"abc\" is not a number"))
        << unreadable->message;
    const auto count = find(atBlockEnd("*MESH_NUMVERTEX 1\n"));
    ASSERT_EQ(count.declared.size(), 1u);
    EXPECT_EQ(count.declared[0].numVertex, 1);
}

TEST(Findings, TilingConflictsAreCountedPastTwentyPerMesh) {
    std::string scene =
        "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 2\n"
        "*SUBMATERIAL 0 {\n*UVW_U_TILING 2\n}\n*SUBMATERIAL 1 {\n*UVW_U_TILING 4\n}\n}\n"
        "*MESH_NUMTVERTEX 25\n*MESH_NUMTVFACES 50\n*MESH_NUMFACES 50\n";  // 1-13
    for (int t = 0; t < 25; ++t) scene += "*MESH_TVERT " + std::to_string(t) + " 1 1\n";
    for (int f = 0; f < 50; ++f) {
        scene += "*MESH_FACE " + std::to_string(f) + ": A: 0 B: 0 C: 0 *MESH_MTLID " +
                 std::to_string(f / 25) + "\n";
    }
    for (int f = 0; f < 50; ++f) {
        const int t = f % 25;
        scene += "*MESH_TFACE " + std::to_string(f) + " " + std::to_string(t) + " " +
                 std::to_string(t) + " " + std::to_string(t) + "\n";
    }
    const auto found = find(scene + "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 0 0 0\n");
    std::vector<std::uint64_t> lines;
    for (const auto& f : found.findings) {
        if (f.id == "tiling-conflict") lines.push_back(f.line);
    }
    // faces 25 to 44 one by one (their *MESH_TFACE lines start at 13 + 25 + 50 + 25 + 1),
    // then one line for the five after them
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.front(), 114u);
    EXPECT_EQ(lines.back(), 134u);
    EXPECT_NE(found.findings.back().message.find("5 more"), std::string::npos);
}

TEST(Findings, TheConversionStoresTheSameWithAListener) {
    // the reads a listener watches must take the same input as the plain ones
    const std::string scene = test::readFile(fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase");
    for (const std::string& text :
         {scene, scene + "*MESH_FACE 3: A: 1 B: 2 C: 3\n\n" + longLine("*MESH_VERTEX 1 4 5 6\n"),
          std::string("*MESH_NUMVERTEX 2\n*MESH_VERTEX 0 1.#QNAN 2 3\n*MESH_VERTEX 1 -.5e+x")}) {
        for (const std::size_t block : {std::size_t{7}, kDefaultBlockSize}) {
            test::TextFile plainFile(text), watchedFile(text);
            MeshConverter plain(plainFile.get(), "unused.obj", {.blockSize = block});
            Diagnostics quiet;  // hears everything, does nothing
            MeshConverter watched(watchedFile.get(), "unused.obj",
                                  {.blockSize = block, .diagnostics = &quiet});
            EXPECT_EQ(encodeMeshFile(watched), encodeMeshFile(plain));
        }
    }
}

TEST(Findings, TheExampleIsCleanAndCorpusScenesCountTheirMeshes) {
    const fs::path box = fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase";
    EXPECT_TRUE(find(test::readFile(box)).findings.empty());
    if (!fs::is_directory(TESSLOOM_CORPUS_DIR)) GTEST_SKIP() << "no corpus";
    for (const auto& e : fs::directory_iterator(TESSLOOM_CORPUS_DIR)) {
        const std::string ext = e.path().extension();
        if (ext != ".ase" && ext != ".ASE") continue;
        SCOPED_TRACE(e.path().filename().string());
        const auto found = find(test::readFile(e.path()));
        const auto several = std::count_if(found.findings.begin(), found.findings.end(),
                                           [](const auto& x) { return x.id == "several-meshes"; });
        EXPECT_EQ(static_cast<std::size_t>(several), found.meshes.count() - 1);
    }
}

#ifdef TESSLOOM_INSPECT_BINARY  // built when the inspector's libraries are installed
class InspectScene : public test::Driver {};

TEST_F(InspectScene, FindingsAreLinesEditorsJumpToAndTheStatusSaysWhetherThereAreAny) {
    // a script, its status, and lines each of which must appear in its output as a whole line
    using Case = std::tuple<std::string, int, std::vector<std::string>>;
    const std::string kBad = "printf '*MESH_NUMVERTEX 2\\n*MESH_VERTEX 1 0 0 0\\n' > bad.ase; ";
    const std::string kMissing =
        ":1: warning: 1 of the 2 indices this count declares has no *MESH_VERTEX line (the "
        "first is 0): it stays zero [missing-elements]";
    const Case cases[] = {
        {"\"$I\" box.ase", 0, {"0 errors, 0 warnings"}},
        {kBad + "\"$I\" bad.ase", 1, {"bad.ase" + kMissing, "0 errors, 1 warning"}},
        {"printf '*MESH_NUMVERTEX 1000\\n' > big.ase; \"$I\" big.ase",
         1,
         {"big.ase:1: error: *MESH_NUMVERTEX 1000 is more than a 21-byte scene can hold: the "
          "conversion is refused [count-too-large]",
          "1 error, 0 warnings"}},
        // the path as in every other message: a line feed in it cannot start a line
        {kBad + "mv bad.ase \"$(printf 'a\\nb.ase')\"; \"$I\" \"$(printf 'a\\nb.ase')\"",
         1,
         {"a\\nb.ase" + kMissing}},
        // not a scene by its first byte, but read as one when asked
        {"echo hello > plain.txt; \"$I\" --scene plain.txt", 0, {"0 errors, 0 warnings"}},
        {"echo hello > plain.txt; \"$I\" plain.txt", 1, {}},
        // on standard error
        {"\"$I\" --scene missing.ase",
         2,
         {"tessloom-inspect: missing.ase: cannot open: No such file or directory"}},
        {"mkdir d; \"$I\" --scene d", 2, {"tessloom-inspect: d: not a regular file"}},
        // every mesh but the last, named by its index and name, and the last one kept
        {"printf '*GEOMOBJECT {\\n*NODE_NAME \"a\"\\n*MESH\\n}\\n*GEOMOBJECT {\\n*MESH\\n}\\n"
         "*GEOMOBJECT {\\n*NODE_NAME \"c\"\\n*MESH\\n}\\n' > s.ase; \"$I\" s.ase",
         1,
         {"s.ase:1: warning: mesh 0 \"a\" is not kept: a plain conversion keeps only the last "
          "of the 3 meshes, 2 \"c\" (tessloom --mesh 0 takes this one) [several-meshes]",
          "s.ase:5: warning: mesh 1 is not kept: a plain conversion keeps only the last of the 3 "
          "meshes, 2 \"c\" (tessloom --mesh 1 takes this one) [several-meshes]",
          "0 errors, 2 warnings"}},
        // the listing's counts are those the conversion reads in the block: the last one, its
        // number on a later line too; none after a token that starts the line
        {"printf '*GEOMOBJECT {\\n*MESH {\\n*MESH_NUMVERTEX 2\\n*MESH_NUMVERTEX\\n0\\n"
         "} *MESH_NUMFACES 5\\n}\\n' > c.ase; \"$I\" c.ase",
         0,
         {"      0        1         0         -        -  -"}},
    };
    for (const auto& [script, status, lines] : cases) {
        SCOPED_TRACE(script);
        EXPECT_EQ(sh(script), status) << err_;
        for (const std::string& line : lines) {
            EXPECT_NE(("\n" + out_ + err_).find("\n" + line + "\n"), std::string::npos)
                << out_ << err_;
        }
    }

    sh(kBad + "\"$I\" --json bad.ase");
    const auto j = nlohmann::json::parse(out_);
    ASSERT_EQ(j["findings"].size(), 1u);
    EXPECT_EQ(j["findings"][0], nlohmann::json({{"line", 1},
                                                {"severity", "warning"},
                                                {"id", "missing-elements"},
                                                {"message", j["findings"][0]["message"]},
                                                {"mesh", 0}}));
    EXPECT_EQ(j["warnings"], 1);
}
#endif

}  // namespace
}  // namespace tessloom
