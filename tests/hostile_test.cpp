// Hostile scenes through the real binary: each converts to bytes worked out by hand, or is
// rejected with one line and nothing written.
#include <cstring>
#include <random>
#include <regex>

#include "binary.h"
#include "testutil.h"

namespace {

using tessloom::test::Bytes;
using tessloom::test::Driver;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

constexpr float kInf = std::numeric_limits<float>::infinity();

struct Hostile {
    const char* name;
    std::string scene;
    std::string limits;                    // shell commands run before the binary
    std::string rejected;                  // the message's tail; empty when the scene converts
    std::vector<std::uint8_t> bytes = {};  // the file written; for a rejection none
};

std::vector<std::uint8_t> zeroMesh() {
    return Bytes{}.zeros(10).data;
}

// A mesh of one vertex and nothing else: its position, then the radius and bounds.
std::vector<std::uint8_t> oneVertex(std::initializer_list<float> position,
                                    std::initializer_list<float> bounds) {
    return Bytes{}.i32(1).f32s(position).zeros(2).f32s(bounds).data;
}

std::vector<Hostile> catalogue() {
    const std::string lowMemory = "ulimit -v 300000;";
    std::vector<Hostile> cases = {
        {"ref too large", "*MATERIAL_COUNT 2\n*MATERIAL_REF 2147483647\n", "",
         "*MATERIAL_REF 2147483647 names no material; the scene has 2"},
        {"ref negative", "*MATERIAL_COUNT 2\n*MATERIAL_REF -2147483648\n", "",
         "*MATERIAL_REF -2147483648 names no material; the scene has 2"},
    };
    // A count beyond the input's size cannot come from a real export: rejected before any
    // table is made, however little the scene is.
    static const std::pair<const char*, const char*> kTooMany[] = {
        {"*MESH_NUMVERTEX 633333333\n", "*MESH_NUMVERTEX 633333333"},
        {"*MESH_NUMTVERTEX 99999999999\n", "*MESH_NUMTVERTEX 2147483647"},
        {"*MESH_NUMFACES 99\n*MESH_NUMFACES 37\n", "*MESH_NUMFACES 37"},
        {"*MESH_NUMTVFACES 30\n", "*MESH_NUMTVFACES 30"},
        {"*MATERIAL_COUNT 2000000000\n", "*MATERIAL_COUNT 2000000000"},
        {"*MATERIAL_COUNT 1\n*NUMSUBMTLS 40\n", "*NUMSUBMTLS 40"},
        {"*MATERIAL_COUNT 2\n*NUMSUBMTLS 31\n*MATERIAL 1\n*NUMSUBMTLS 31\n", "*NUMSUBMTLS 31"}};
    for (const auto& [scene, count] : kTooMany) {
        cases.push_back({scene, scene, "",
                         std::string(count) + " exceeds what a " +
                             std::to_string(std::strlen(scene)) + "-byte scene can hold"});
    }
#ifndef TESSLOOM_SANITIZED  // the address sanitizer needs more address space than the limit
    // 400 MB of faces that the scene's size allows, under a 300 MB limit
    cases.push_back({"out of memory", "*MESH_NUMFACES 5000000\n" + std::string(5'000'000, ' '),
                     lowMemory, "out of memory for the scene's tables"});
#endif

    // Every kind of index that names no entry: nothing stored, the reads still made. One
    // entry, vertex, texture vertex and face, all zero.
    cases.push_back(
        {"indices out of range",
         "*MATERIAL_COUNT 1\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n"
         "*MESH_VERTEX 1 9 9 9\n*MESH_VERTEX -1 9 9 9\n*MESH_VERTEX -2147483648 9 9 9\n"
         "*MESH_TVERT 2147483647 9 9\n*MESH_TFACE -1 9 9 9\n"
         "*MESH_FACE 1: A: 9 B: 9 C: 9\n*MESH_VERTEX 0 9 9 9\n"  // lost to the search
         "*MESH_MTLID 9\n"
         "*MESH_FACENORMAL 2147483647 9 9 9\n*MESH_VERTEXNORMAL 0 9 9 9\n"
         "*MESH_VERTEXNORMAL 0 9 9 9\n*MESH_VERTEXNORMAL 0 9 9 9\n"
         "*MATERIAL 1\n*MATERIAL_SHINE 9\n*MATERIAL -2147483648\n*BITMAP \"x\"\n"
         "*MATERIAL 0\n*SUBMATERIAL 0\n*MATERIAL_SHINE 9\n*NUMSUBMTLS 2\n"
         "*MATERIAL 0\n*NUMSUBMTLS 1\n*SUBMATERIAL 2147483647\n*UVW_U_TILING 9\n",
         "", "", Bytes{}.i32(1).zeros(17).i32(1).zeros(3).i32(1).zeros(2).i32(1).zeros(26).data});
    // Sub-material numbers from the extremes of mtlId take its sign: three zero entries, no
    // vertices, two faces.
    Bytes extreme;
    extreme.i32(3).zeros(3 * 17 + 2).i32(2).i32(-2).i32(2147483647).i32(-2147483647 - 1);
    cases.push_back({"extreme mtlId",
                     "*MATERIAL_COUNT 1\n*NUMSUBMTLS 3\n*MESH_NUMFACES 2\n"
                     "*MESH_FACE 0: A: 99999999999 B: -99999999999 C: 1 *MESH_MTLID -2147483648\n"
                     "*MESH_FACE 1: A: 0 B: 0 C: 0 *MESH_MTLID 2147483647\n",
                     "", "", extreme.i32(1).zeros(15).i32(1).zeros(25).data});
    cases.push_back({"floats beyond range", "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1e39 -1e39 1e-50\n",
                     "", "", oneVertex({kInf, 0, kInf}, {kInf, 0, kInf, 0, 0, 0, kInf})});
    {
        std::string faces = "*MESH_NUMFACES 100000\n";
        for (int f = 0; f < 100000; ++f) {
            faces += "*MESH_FACE " + std::to_string(f) + ": A: 1 B: 2 C: 3 AB: 1 BC: 1 CA: 0\n";
        }
        Bytes b;
        b.i32(0).i32(0).i32(100000).i32(-1).i32(1).i32(2).i32(3);
        b.zeros(15 + 99999 * 19 + 7);       // rest of face 0, the others, bounds
        for (int f = 1; f < 100000; ++f) {  // every later face lost to the first one's search
            for (int i = 0; i < 4; ++i) b.data[12 + 76 * f + i] = 0xff;
        }
        cases.push_back({"faces without mtlId", faces, "", "", b.data});
    }
    // (1, 2, 3) stored as (1, 3, -2), |(1, 2, 3)| = sqrt(14)
    const auto oneTwoThree = oneVertex({1, 3, -2}, {3.7416574f, 0, 1, 0, 3, -2, 0});
    {
        std::string line = "*MESH_NUMVERTEX 1\n#";
        while (line.size() < 10'000'000) line += "ab ";
        line += "\n*MESH_VERTEX 0 1 2 3\n";
        cases.push_back({"10 MB line", line, "", "", oneTwoThree});
        std::string token = "*MESH_NUMVERTEX 1\n" + std::string(10'000'000, 'x') +
                            " *MESH_VERTEX 0 1 2 3\n*MESH_VERTEX 0 2 -2 1\n";
        cases.push_back(
            {"10 MB token", token, "", "", oneVertex({2, 1, 2}, {3, 0, 2, 0, 1, 0, 2})});
    }
    {
        std::mt19937 rng(1);
        std::string garbage(1 << 16, '\0');
        for (char& c : garbage) c = static_cast<char>(rng());
        cases.push_back({"binary garbage", garbage, "", "", zeroMesh()});
    }
    cases.push_back({"bytes above 127",
                     "*MESH_NUMVERTEX\xa0 7\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1\xa0 2 3\n", "", "",
                     oneVertex({1, 0, -0.0f}, {1, 0, 1, 0, 0, 0, 0})});
    cases.push_back(
        {"NUL bytes",
         std::string("*MESH_NUMVERTEX\0 7\n*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2 3\0 4\n", 60), "",
         "", oneTwoThree});
    // a material section larger than the 1 MiB output buffer
    cases.push_back({"16,000 sub-materials",
                     "*MATERIAL_COUNT 1\n*NUMSUBMTLS 16000\n" + std::string(16000, ' '), "", "",
                     Bytes{}.i32(16000).zeros(16000 * 17 + 10).data});
    cases.push_back({"empty", "", "", "", zeroMesh()});
    cases.push_back({"count as large as the scene", "*MESH_NUMTVFACES 20\n", "", "", zeroMesh()});
    cases.push_back({"white space only", " \t\r\n\v\f\r\n", "", "", zeroMesh()});
    return cases;
}

TEST_F(Driver, HostileScenes) {
    for (const Hostile& h : catalogue()) {
        writeFile(dir_ / "in.ase", h.scene);
        if (!h.rejected.empty()) {
            expectRejected("in.ase", "tessloom: in.ase: " + h.rejected + "\n", h.limits);
            EXPECT_FALSE(fs::exists(dir_ / "in.obj")) << h.name;
            continue;
        }
        ASSERT_EQ(run("in.ase", h.limits), 0) << h.name << ": " << err_;
        // what the conversion loses is told, nothing else
        static const std::regex kLossWarning(
            "tessloom: in\\.ase: [^\n]*(--keep-uv keeps them|--fix-normals computes them)\\)\n");
        EXPECT_EQ(out_ + std::regex_replace(err_, kLossWarning, ""), "") << h.name;
        const std::string bytes = readFile(dir_ / "in.obj");
        EXPECT_TRUE(
            std::equal(bytes.begin(), bytes.end(), h.bytes.begin(), h.bytes.end(),
                       [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
            << h.name << ": " << bytes.size() << " bytes, expected " << h.bytes.size();
        fs::remove(dir_ / "in.obj");
    }
}

// Control-Z anywhere ends the input: the output is the conversion of what came before it.
TEST_F(Driver, ControlZAtEveryPosition) {
    const std::string scene =
        "*MATERIAL_COUNT 1\n*BITMAP \"C:\\a\\b.tga\"\n*UVW_U_TILING 2\n*MESH_NUMVERTEX 2\n"
        "*MESH_NUMFACES 1\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n*MESH_VERTEX 0 1 2 3\n"
        "*MESH_VERTEX 1 -1 -2 -3\n*MESH_TVERT 0 0.5 0.5\n*MESH_FACE 0: A: 0 B: 1 C: 0 *MESH_MTLID "
        "1\n"
        "*MESH_TFACE 0 0 0 0\n*MESH_FACENORMAL 0 0 0 1\n*MESH_VERTEXNORMAL 0 1 0 0\n";
    for (std::size_t at = 0; at <= scene.size(); ++at) {
        writeFile(dir_ / "in.ase", scene.substr(0, at) + "\x1a" + scene.substr(at));
        ASSERT_EQ(run("in.ase"), 0) << at;
        EXPECT_EQ(readFile(dir_ / "in.obj"), tessloom::test::meshText(scene.substr(0, at))) << at;
    }
}

// The converter made from paths: an input that vanishes or cannot be read once the existence
// test has passed, and an output that names the input (refused when it writes, as the run's
// writer refuses it), are refused; any other output is written.
TEST(Input, TheConverterFromPathsRefusesWhatItCannotReadOrMayNotReplace) {
    const tessloom::test::TempDir temp;
    const std::string dir = temp.path().string();
    const std::string scene = dir + "/s.ase";
    const std::string text = "*MESH_NUMVERTEX 1\n*MESH_VERTEX 0 1 2 3\n";
    writeFile(scene, text);
    ASSERT_EQ(::link(scene.c_str(), (dir + "/same.obj").c_str()), 0);
    const struct {
        std::string input;
        std::optional<std::string> output;
        std::string rejection;  // empty: converted and written
    } rows[] = {
        {"/nonexistent/scene.ase", std::nullopt,
         "cannot open the input: No such file or directory"},
        {"/", std::nullopt, "the input is not a regular file"},
        {scene, scene, "the output " + scene + " is the input itself"},
        {scene, dir + "/same.obj", "the output " + dir + "/same.obj is the input itself"},
        {scene, dir + "/new.obj", ""},
    };
    for (const auto& row : rows) {
        try {
            tessloom::MeshConverter(row.input, row.output).writeMeshFile();
            EXPECT_EQ(row.rejection, "");
            ASSERT_TRUE(row.output);
            EXPECT_EQ(readFile(*row.output), tessloom::test::meshText(text));
        } catch (const tessloom::Rejected& e) {
            EXPECT_EQ(e.what(), row.rejection);
        }
    }
    EXPECT_EQ(readFile(scene), text);
}

}  // namespace
