// The library's calls: scene text in memory against the same file and against the tool's
// output and messages, each option on hand-made scenes, and many threads at once.
#include "tessloom/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/scenegen.h"
#include "binary.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using tessloom::ConvertError;
using tessloom::ConvertOptions;
using tessloom::test::readFile;
using tessloom::test::writeFile;

std::span<const std::byte> bytesOf(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string textOf(const std::vector<std::byte>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// box.ase and every corpus scene, when the corpus is there.
std::vector<fs::path> scenes() {
    std::vector<fs::path> all{fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase"};
    if (fs::is_directory(TESSLOOM_CORPUS_DIR)) {
        for (const auto& e : fs::directory_iterator(TESSLOOM_CORPUS_DIR)) {
            std::string ext = e.path().extension().string();
            for (char& ch : ext)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (ext == ".ase") all.push_back(e.path());
        }
    }
    std::sort(all.begin(), all.end());
    return all;
}

// What one way of converting gave: the files' bytes and the lines on standard error (after
// "tessloom: ", each ending in a line feed), or the failure's line.
struct Outcome {
    std::vector<std::string> files;
    std::string lines;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
    *out << o.files.size() << " files (";
    for (const std::string& f : o.files) *out << f.size() << " bytes, ";
    *out << ") lines: " << o.lines;
}

std::string asLines(const std::vector<std::string>& warnings) {
    std::string text;
    for (const std::string& w : warnings) text += "tessloom: " + w + "\n";
    return text;
}

// The library's outcome for one scene, from its path or from its bytes under the path's name.
Outcome library(const fs::path& scene, const std::string& mode, bool fromMemory) {
    std::vector<std::string> warnings;
    const bool fix = mode.find("--fix") != std::string::npos;
    ConvertOptions options{.merge = mode == "--merge",
                           .keepUv = fix || mode == "--keep-uv",
                           .fixNormals = fix,
                           .strict = mode.find("--strict") != std::string::npos,
                           .warnings = &warnings,
                           .name = scene.string()};
    if (mode.starts_with("--mesh=")) {
        // the tool takes digits as an index, the library as what they are given as
        const std::string chosen = mode.substr(7);
        if (std::all_of(chosen.begin(), chosen.end(), ::isdigit)) {
            options.mesh = static_cast<std::size_t>(std::stoul(chosen));
        } else {
            options.mesh = chosen;
        }
    }
    // from memory the findings are asked for too: looking for them changes nothing else
    std::vector<tessloom::Finding> findings;
    if (fromMemory) options.findings = &findings;
    const std::string text = fromMemory ? readFile(scene) : std::string();
    Outcome got;
    try {
        std::vector<tessloom::MeshFile> meshes;
        if (mode == "--each") {
            meshes = fromMemory ? tessloom::convertEach(bytesOf(text), options)
                                : tessloom::convertEach(scene, options);
        } else {
            meshes.push_back(fromMemory ? tessloom::convert(bytesOf(text), options)
                                        : tessloom::convert(scene, options));
        }
        for (const auto& m : meshes) got.files.push_back(textOf(tessloom::encode(m)));
        got.lines = asLines(warnings);
    } catch (const ConvertError& e) {
        got.lines = asLines(warnings) + "tessloom: " + e.what() + "\n";
    }
    return got;
}

class ConvertApi : public tessloom::test::Driver {
  protected:
    // The tool's outcome: its files (out.obj, or out.N.obj for --each) and standard error.
    Outcome tool(const fs::path& scene, const std::string& mode) {
        fs::remove_all(dir_ / "out");
        fs::create_directory(dir_ / "out");
        run(mode + " '" + scene.string() + "' out/out.obj");
        Outcome got{{}, err_};
        if (mode != "--each") {
            if (fs::exists(dir_ / "out/out.obj"))
                got.files.push_back(readFile(dir_ / "out/out.obj"));
            return got;
        }
        for (int n = 0; fs::exists(dir_ / ("out/out." + std::to_string(n) + ".obj")); ++n) {
            got.files.push_back(readFile(dir_ / ("out/out." + std::to_string(n) + ".obj")));
        }
        return got;
    }
};

// Generated scenes, some larger than one read of the input, from the file and from memory
// give the mesh file their generator computed.
TEST(ConvertGenerated, FileAndMemoryGiveTheGeneratorsBytes) {
    const tessloom::test::TempDir dir;
    struct Case {
        std::int64_t faces;
        bool crlf;
        int subMaterials;
        bool normals;
    };
    const Case cases[] = {{200, false, 0, true},
                          {200, true, 3, false},
                          {20000, false, 3, true},
                          {20000, true, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.faces) + (c.crlf ? " crlf" : "") + " subs " +
                     std::to_string(c.subMaterials) + (c.normals ? "" : " no normals"));
        const fs::path scene = dir / "g.ase", expected = dir / "g.obj";
        std::FILE* sceneFile = std::fopen(scene.c_str(), "wb");
        std::FILE* expectedFile = std::fopen(expected.c_str(), "wb");
        tessloom::bench::generateScene({c.faces, c.crlf, c.subMaterials, c.normals}, sceneFile,
                                       expectedFile);
        std::fclose(sceneFile);
        std::fclose(expectedFile);
        const std::string text = readFile(scene), want = readFile(expected);
        EXPECT_EQ(textOf(tessloom::encode(tessloom::convert(scene))), want);
        EXPECT_EQ(textOf(tessloom::encode(tessloom::convert(bytesOf(text)))), want);
    }
}

// Two meshes, "a" of three vertices and "7" of one, neither with normals or materials.
const std::string kTwoMeshes =
    "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n"
    "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
    "*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_MTLID 0\n}\n}\n"
    "*GEOMOBJECT {\n*NODE_NAME \"7\"\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
    "*MESH_VERTEX 0 5 5 5\n*MESH_FACE 0: A: 0 B: 0 C: 0 *MESH_MTLID 0\n}\n}\n";

// Three meshes of 100 vertices each, under a comment of 100 characters: 112 + 3 * 46 = 250
// bytes, which the vertices of all three together exceed.
const std::string kWide = "*COMMENT \"" + std::string(100, 'x') + "\"\n" +
                          "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 100\n}\n}\n"
                          "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 100\n}\n}\n"
                          "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 100\n}\n}\n";

// One material that gives no tiling, over a face with texture vertex (0.5, 0.25) and no
// normals.
const std::string kUntiled =
    "*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*BITMAP \"a.tga\"\n}\n"
    "*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n"
    "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n"
    "*MESH_FACE 0: A: 0 B: 1 C: 2 *MESH_SMOOTHING 1 *MESH_MTLID 0\n"
    "*MESH_TVERT 0 0.5 0.25 0\n*MESH_TFACE 0 0 0 0\n*MATERIAL_REF 0\n";

// Each scene in each mode: the library from the file and from memory gives the tool's bytes,
// its warnings and its failure line, exactly.
TEST_F(ConvertApi, MemoryAndFileGiveTheToolsBytesAndLines) {
    for (const fs::path& scene : scenes()) {
        for (const std::string mode : {"", "--each", "--merge"}) {
            SCOPED_TRACE(scene.filename().string() + " " + mode);
            const Outcome expected = tool(scene, mode);
            EXPECT_FALSE(expected.files.empty() && expected.lines.empty());
            EXPECT_EQ(library(scene, mode, false), expected);
            EXPECT_EQ(library(scene, mode, true), expected);
        }
    }
}

// Hand-made scenes that fail, warn or need a choice: the library's failure line and
// warnings are the tool's, for the file and for the same bytes in memory.
TEST_F(ConvertApi, FailuresAndWarningsAreTheToolsLines) {
    struct Case {
        const char* name;
        std::string text;
        const char* mode;
    };
    const Case cases[] = {
        {"negative.ase", "*MESH_NUMVERTEX -1\n", ""},
        {"negative.ase", "*MESH_NUMVERTEX -1\n", "--each"},
        {"huge.ase", "*MESH_NUMFACES 999999\n", ""},
        {"empty.ase", "", ""},
        {"returns.ase", "*MESH_NUMVERTEX 1\r*MESH_VERTEX 0 1 2 3\r", ""},
        {"two.ase", kTwoMeshes, ""},
        {"two.ase", kTwoMeshes, "--strict"},
        {"two.ase", kTwoMeshes, "--mesh=a"},
        {"two.ase", kTwoMeshes, "--mesh=2"},
        {"untiled.ase", kUntiled, "--keep-uv"},
        {"untiled.ase", kUntiled, "--strict --fix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.mode);
        const fs::path scene = dir_ / c.name;
        writeFile(scene, c.text);
        const Outcome expected = tool(scene, c.mode);
        EXPECT_EQ(library(scene, c.mode, false), expected);
        EXPECT_EQ(library(scene, c.mode, true), expected);
    }
    // A path that opens no scene: the path and the reason on one line, as the tool gives
    // them for what is not a file (for a missing file it prints its older line on standard
    // output instead).
    writeFile(dir_ / "scene.ase", kTwoMeshes);
    fs::create_directory(dir_ / "folder.ase");
    const std::pair<const char*, const char*> paths[] = {
        {"missing.ase", "No such file or directory"},
        {"none/missing.ase", "No such file or directory"},
        {"scene.ase/missing.ase", "Not a directory"},
        {"folder.ase", "not a regular file"},
    };
    for (const auto& [name, reason] : paths) {
        for (const char* mode : {"", "--each"}) {
            SCOPED_TRACE(std::string(name) + " " + mode);
            const fs::path scene = dir_ / name;
            EXPECT_EQ(library(scene, mode, false),
                      (Outcome{{}, "tessloom: " + scene.string() + ": " + reason + "\n"}));
        }
    }
    // what the tool says of a folder
    EXPECT_EQ(tool(dir_ / "folder.ase", "").lines,
              "tessloom: " + (dir_ / "folder.ase").string() + ": not a regular file\n");
}

const std::string kSeveral =
    "s.ase holds 2 meshes; the output holds the last one, 1 \"7\" (--each or --merge keep them "
    "all)";
const std::string kUntiledLine =
    "s.ase: 1 material entry gives no tiling; 1 texture coordinate is scaled by 0 (--keep-uv "
    "keeps them)";
std::string zeroNormals(int zero, int faces) {
    return "s.ase: " + std::to_string(zero) + " of " + std::to_string(faces) +
           (faces == 1 ? " face " : " faces ") + (zero == 1 ? "has" : "have") +
           " a zero normal (no normals given; --fix-normals computes them)";
}

// Each option on the hand-made scenes: the meshes' vertex counts, the first texture vertex,
// the first face's normal, the warnings, or the failure.
TEST(ConvertOptions, EachOptionAsTheToolsSwitch) {
    struct Case {
        const char* what;
        const std::string& scene;
        ConvertOptions options;
        bool each;
        std::vector<std::size_t> vertices;  // of each mesh given
        std::vector<std::string> warnings;
        std::string failure;  // what() when it fails
        float u = 0;          // of the first texture vertex, when there is one
        bool normal = false;  // the first face's normal is not zero
    };
    const Case cases[] = {
        {"plain: the last mesh", kTwoMeshes, {}, false, {1}, {kSeveral, zeroNormals(1, 1)}, ""},
        {"index 0", kTwoMeshes, {.mesh = std::size_t{0}}, false, {3}, {zeroNormals(1, 1)}, ""},
        {"a name", kTwoMeshes, {.mesh = std::string("a")}, false, {3}, {zeroNormals(1, 1)}, ""},
        {"a name of digits is a name",
         kTwoMeshes,
         {.mesh = std::string("7")},
         false,
         {1},
         {zeroNormals(1, 1)},
         ""},
        {"index out of range",
         kTwoMeshes,
         {.mesh = std::size_t{7}},
         false,
         {},
         {},
         "s.ase: no mesh 7; the scene holds 2 meshes: 0 \"a\", 1 \"7\""},
        {"no such name",
         kTwoMeshes,
         {.mesh = std::string("b")},
         false,
         {},
         {},
         "s.ase: no mesh is named \"b\"; the scene holds 2 meshes: 0 \"a\", 1 \"7\""},
        {"merge", kTwoMeshes, {.merge = true}, false, {4}, {zeroNormals(2, 2)}, ""},
        {"each", kTwoMeshes, {}, true, {3, 1}, {zeroNormals(2, 2)}, ""},
        {"a mesh and merge",
         kTwoMeshes,
         {.mesh = std::size_t{0}, .merge = true},
         false,
         {},
         {},
         "a mesh and merge exclude each other"},
        {"each, more vertices than the scene has bytes",
         kWide,
         {},
         true,
         {},
         {},
         "s.ase: mesh 2: the separate meshes would hold more vertices than a 250-byte scene can"},
        {"each with merge",
         kTwoMeshes,
         {.merge = true},
         true,
         {},
         {},
         "convertEach takes neither a mesh nor merge"},
        {"strict",
         kTwoMeshes,
         {.mesh = std::size_t{0}, .strict = true},
         false,
         {},
         {zeroNormals(1, 1)},
         "s.ase: --strict: nothing written, 1 warning"},
        {"plain tiling", kUntiled, {}, false, {3}, {kUntiledLine, zeroNormals(1, 1)}, "", 0},
        {"keepUv", kUntiled, {.keepUv = true}, false, {3}, {zeroNormals(1, 1)}, "", 0.5f},
        {"fixNormals", kUntiled, {.fixNormals = true}, false, {3}, {kUntiledLine}, "", 0, true},
        {"both, strict",
         kUntiled,
         {.keepUv = true, .fixNormals = true, .strict = true},
         false,
         {3},
         {},
         "",
         0.5f,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> warnings;
        ConvertOptions options = c.options;
        options.warnings = &warnings;
        options.name = "s.ase";
        std::vector<tessloom::MeshFile> meshes;
        std::string failure;
        try {
            if (c.each) {
                meshes = tessloom::convertEach(bytesOf(c.scene), options);
            } else {
                meshes.push_back(tessloom::convert(bytesOf(c.scene), options));
            }
        } catch (const ConvertError& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(warnings, c.warnings);
        std::vector<std::size_t> vertices;
        for (const auto& m : meshes) vertices.push_back(m.vertices.size());
        EXPECT_EQ(vertices, c.vertices);
        if (meshes.empty()) continue;
        if (!meshes[0].texVertices.empty()) {
            EXPECT_EQ(meshes[0].texVertices[0].u, c.u);
        }
        const auto& n = meshes[0].faces.at(0).faceNormal;
        EXPECT_EQ(n.x != 0 || n.y != 0 || n.z != 0, c.normal);
    }
}

// Findings come when asked, line by line, for the whole scene whichever mesh is chosen, and
// also when the conversion fails.
TEST(ConvertOptions, FindingsAreTheScenesLines) {
    using Severity = tessloom::Finding::Severity;
    struct Case {
        const std::string& scene;
        ConvertOptions options;
        bool fails;
        // "LINE ID MESH", the mesh "-" for none; an error's id starts with "!"
        std::vector<std::string> findings;
    };
    const std::string negative = "*MESH_NUMVERTEX -1\n";
    const Case cases[] = {
        // the material on line 2 scales its texture vertex away; the faces' count is on line
        // 6; a scene without *GEOMOBJECT blocks is one mesh, 0, from its first line
        {kUntiled, {}, false, {"2 zero-tiling 0", "6 no-normals 0"}},
        {kUntiled,
         {.keepUv = true, .fixNormals = true},
         false,
         {"2 zero-tiling 0", "6 no-normals 0"}},
        // mesh "a" is not kept by a plain run, and the second block's single vertex count
        // leaves two of its vertex lines outside, as a plain run reads them
        {kTwoMeshes,
         {.mesh = std::size_t{1}},
         false,
         {"1 no-normals 0", "1 several-meshes 0", "7 index-out-of-range 0",
          "8 index-out-of-range 0", "9 corner-out-of-range 0", "12 no-normals 1"}},
        {negative, {}, true, {"1 !count-too-large 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<tessloom::Finding> findings;
        ConvertOptions options = c.options;
        options.findings = &findings;
        bool failed = false;
        try {
            tessloom::convert(bytesOf(c.scene), options);
        } catch (const ConvertError&) {
            failed = true;
        }
        EXPECT_EQ(failed, c.fails);
        std::vector<std::string> got;
        for (const tessloom::Finding& f : findings) {
            EXPECT_FALSE(f.message.empty());
            got.push_back(std::to_string(f.line) + " " +
                          (f.severity == Severity::kError ? "!" : "") + f.id + " " +
                          (f.mesh ? std::to_string(*f.mesh) : "-"));
        }
        EXPECT_EQ(got, c.findings);
    }
}

// write() puts the encoded bytes in place; a path that cannot be written is a ConvertError
// and leaves nothing behind.
TEST(ConvertWrite, WritesTheEncodedBytesOrFails) {
    const tessloom::test::TempDir dir;
    const tessloom::MeshFile mesh =
        tessloom::convert(bytesOf(kTwoMeshes), {.mesh = std::size_t{0}});
    struct Case {
        const char* what;
        fs::path path;
        bool written;
        std::string shown = "";  // how the message names the path, when not as given
    };
    const Case cases[] = {
        {"a new file", dir / "a.obj", true},
        {"a missing folder", dir / "none/a.obj", false},
        {"a folder", dir.path(), false},
        // one line still, and never the file named by the part before a NUL
        {"a line feed", dir / "a\nb/x.obj", false, "/a\\nb/x.obj"},
        {"a NUL byte", dir / std::string("n.obj\0x", 7), false, "/n.obj\\x00x holds a NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool failed = false;
        try {
            tessloom::write(mesh, c.path);
        } catch (const ConvertError& e) {
            failed = true;
            const std::string what = e.what();
            EXPECT_NE(what.find(c.shown.empty() ? c.path.string() : c.shown), std::string::npos)
                << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
        EXPECT_EQ(failed, !c.written);
        if (c.written) {
            EXPECT_EQ(readFile(c.path), textOf(tessloom::encode(mesh)));
        }
    }
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u) << "a temporary file was left";
}

// Eight threads, each converting every scene from memory and from its file and writing
// the results into a folder of its own, give what one thread gives.
TEST(ConvertThreads, EightThreadsGiveWhatOneGives) {
    const std::vector<fs::path> all = scenes();
    std::vector<std::string> texts;
    for (const fs::path& scene : all) texts.push_back(readFile(scene));
    auto convertAll = [&](const fs::path& folder) {
        std::vector<std::string> results;
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (const bool merge : {false, true}) {
                try {
                    const auto fromFile = tessloom::convert(all[i], {.merge = merge});
                    const auto fromMemory = tessloom::convert(bytesOf(texts[i]), {.merge = merge});
                    const fs::path out = folder / (std::to_string(i) + ".obj");
                    tessloom::write(fromMemory, out);
                    results.push_back(textOf(tessloom::encode(fromFile)));
                    results.push_back(readFile(out));
                } catch (const ConvertError& e) {
                    results.push_back(e.what());
                }
            }
        }
        return results;
    };
    const tessloom::test::TempDir dir;
    const std::vector<std::string> one = convertAll(dir.path());
    constexpr int kThreads = 8;
    std::vector<std::vector<std::string>> got(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            const fs::path folder = dir / std::to_string(t);
            fs::create_directory(folder);
            threads.emplace_back([&, t, folder] { got[t] = convertAll(folder); });
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(got[t] == one) << "thread " << t;
}

}  // namespace
