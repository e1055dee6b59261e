// Reading mesh files back: layouts, lying counts, and tessloom-inspect's checks and output.
#include "meshfile/reader.h"

#include <sys/resource.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <regex>
#include <sstream>

#include "driver/converter.h"
#include "meshfile/encode.h"
#ifdef TESSLOOM_INSPECT_BINARY
#include <nlohmann/json.hpp>
#endif

#include "binary.h"
#include "testutil.h"

namespace {

using namespace tessloom::meshfile;
using tessloom::test::Bytes;
using tessloom::test::Driver;
using tessloom::test::readFile;
namespace fs = std::filesystem;

SpanSource sourceOf(const std::vector<std::uint8_t>& bytes) {
    return SpanSource(std::span<const std::uint8_t>(bytes));
}

// Stores `value` little-endian over the four bytes at `at`.
void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// One face over three vertices, no materials: 152 bytes.
Bytes plainMesh() {
    Bytes b;
    b.i32(3).f32s({1, 0, 0, 0, 2, 0, 0, 0, 3}).i32s({0, 1, -1, 0, 1, 2, 0, 0, 0});
    return b.f32s({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}).f32s({3, 0, 1, 0, 2, 0, 3});
}

// 724 bytes that read both ways: 9 faces without materials, or 9 texture vertices and
// 8 faces after an empty material section, where face 0's last normal holds the 8.
std::vector<std::uint8_t> bothLayouts() {
    Bytes both;
    both.i32s({0, 0, 9}).data.resize(12 + 9 * 76 + 28, 0);
    both.data[84] = 8;
    return both.data;
}

TEST(Reader, LayoutsAreInferredFromTheSize) {
    // no material section: the vertex count leads
    const auto plain = plainMesh().data;
    LayoutGuess guess = inferLayout(sourceOf(plain));
    ASSERT_TRUE(guess.only());
    EXPECT_EQ(guess.only()->layout, Layout::kWithoutMaterials);
    const MeshFile mesh = readMeshFile(sourceOf(plain), Layout::kWithoutMaterials);
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[2].z, 3.0f);
    ASSERT_EQ(mesh.faces.size(), 1u);
    EXPECT_EQ(std::make_tuple(mesh.faces[0].material, mesh.faces[0].c), std::make_tuple(-1, 2));
    EXPECT_EQ(mesh.bounds.radius, 3.0f);
    EXPECT_EQ(encodeMeshFile(mesh), plain);

    // one entry with a bitmap name before the same mesh
    Bytes with;
    with.i32(1).f32s({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}).i32s({1, 1, 9});
    with.text("brick.tga");
    with.data.insert(with.data.end(), plain.begin(), plain.end());
    guess = inferLayout(sourceOf(with.data));
    ASSERT_TRUE(guess.only());
    EXPECT_EQ(guess.only()->layout, Layout::kWithMaterials);
    const MeshFile textured = readMeshFile(sourceOf(with.data), Layout::kWithMaterials);
    ASSERT_EQ(textured.materials.size(), 1u);
    EXPECT_EQ(textured.materials[0].name, "brick.tga");
    EXPECT_EQ(std::make_tuple(textured.materials[0].specular[2], textured.materials[0].vOffset),
              std::make_tuple(9.0f, 14.0f));
    EXPECT_EQ(encodeMeshFile(textured), with.data);

    guess = inferLayout(sourceOf(bothLayouts()));
    EXPECT_TRUE(guess.withMaterials && guess.withoutMaterials);
    EXPECT_FALSE(guess.only());
}

// Every field of every record holds its own value, 1 to 50 in file order, so a field read
// from or written to another's place fails; the bytes are built here, not by the encoder.
TEST(Reader, EveryFieldDecodesFromItsOwnBytes) {
    Bytes b;
    b.i32(1).f32s({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}).i32s({15, 16, 3}).text("abc");
    b.i32(2).f32s({17, 18, 19, 20, 21, 22}).i32(1).f32s({23, 24});
    b.i32s({1, 25, 26, 27, 28, 29, 30, 31});
    b.f32s({32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43});
    b.f32s({44, 45, 46, 47, 48, 49, 50});
    const MeshFile m = readMeshFile(sourceOf(b.data), Layout::kWithMaterials);
    ASSERT_EQ(m.materials.size(), 1u);
    const MaterialEntry& e = m.materials[0];
    std::vector<float> values(e.ambient, e.ambient + 3);
    values.insert(values.end(), e.diffuse, e.diffuse + 3);
    values.insert(values.end(), e.specular, e.specular + 3);
    values.insert(values.end(), {e.shine, e.uTiling, e.vTiling, e.uOffset, e.vOffset,
                                 float(e.reflectRefract), float(e.hasBitmap)});
    ASSERT_EQ(m.vertices.size(), 2u);
    ASSERT_EQ(m.texVertices.size(), 1u);
    ASSERT_EQ(m.faces.size(), 1u);
    for (const Position& v : m.vertices) values.insert(values.end(), {v.x, v.y, v.z});
    values.insert(values.end(), {m.texVertices[0].u, m.texVertices[0].v});
    const FaceRecord& f = m.faces[0];
    for (const std::int32_t i : {f.material, f.a, f.b, f.c, f.ta, f.tb, f.tc})
        values.push_back(float(i));
    for (const Position& n : {f.faceNormal, f.normalA, f.normalB, f.normalC})
        values.insert(values.end(), {n.x, n.y, n.z});
    const Bounds& r = m.bounds;
    values.insert(values.end(), {r.radius, r.minX, r.maxX, r.minY, r.maxY, r.minZ, r.maxZ});
    std::vector<float> expected(50);
    std::iota(expected.begin(), expected.end(), 1.0f);
    EXPECT_EQ(values, expected);
    EXPECT_EQ(e.name, "abc");
    EXPECT_EQ(encodeMeshFile(m), b.data);
    EXPECT_EQ(encodedSize(m), b.data.size());
}

// A source whose bytes change once the sections have been located, as a file being
// rewritten would.
class ChangingSource : public ByteSource {
  public:
    ChangingSource(std::vector<std::uint8_t> bytes, std::size_t readsBefore,
                   std::function<void(std::vector<std::uint8_t>&)> change)
        : bytes_(std::move(bytes)), readsBefore_(readsBefore), change_(std::move(change)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t reads() const { return reads_; }
    void read(std::uint64_t offset, void* out, std::size_t n) const override {
        if (reads_++ == readsBefore_) change_(bytes_);
        std::memcpy(out, bytes_.data() + offset, n);
    }

  private:
    mutable std::vector<std::uint8_t> bytes_;
    std::size_t readsBefore_;
    std::function<void(std::vector<std::uint8_t>&)> change_;
    mutable std::size_t reads_ = 0;
};

// Every name length is checked again when the entry is read: one that changed gives a
// ReadError, never an exception of another kind or an allocation of its size.
TEST(Reader, LengthsThatChangeWhileReadingAreRefused) {
    // two entries with names of 3 and 2 bytes, then an empty mesh
    Bytes b;
    b.i32(2).zeros(14).i32s({0, 1, 3}).text("abc").zeros(14).i32s({0, 1, 2}).text("de");
    b.zeros(3 + 7);
    ChangingSource counting(b.data, ~std::size_t{0}, nullptr);
    locateSections(counting, Layout::kWithMaterials);
    const std::size_t locateReads = counting.reads();
    ASSERT_EQ(readMeshFile(SpanSource(b.data), Layout::kWithMaterials).materials[1].name, "de");
    const std::size_t firstLength = 4 + 64, secondLength = 4 + 68 + 3 + 64;
    struct Case {
        std::size_t at;
        std::int32_t length;
        std::uint64_t offset;
    };
    for (const Case& c :
         {Case{firstLength, -1, firstLength}, Case{firstLength, 0x7fffffff, firstLength},
          Case{firstLength, 4, 4 + 68 + 4 + 64}, Case{firstLength, 2, 4 + 68 + 2 + 64},
          Case{secondLength, 1000, secondLength},
          Case{secondLength, 1, secondLength - 64 + 68 + 1}}) {
        ChangingSource source(b.data, locateReads, [&](std::vector<std::uint8_t>& bytes) {
            put(bytes, c.at, static_cast<std::uint32_t>(c.length));
        });
        try {
            readMeshFile(source, Layout::kWithMaterials);
            ADD_FAILURE() << c.at << " " << c.length;
        } catch (const ReadError& e) {
            EXPECT_EQ(e.offset(), c.offset) << e.what();
            EXPECT_NE(std::string(e.what()).find("changed while it was read"), std::string::npos)
                << e.what();
        }
    }
}

// Counts that lie and truncated files are refused at the offset where they stop fitting,
// before anything is allocated: under a 64 MB address-space limit too.
TEST(Reader, LyingCountsAndTruncationsAreRefusedWhereTheyStop) {
    using Case = std::tuple<std::vector<std::uint8_t>, Layout, std::uint64_t, const char*>;
    std::vector<Case> cases = {
        {Bytes{}.i32(2147483647).f32s({0, 0, 0, 0, 0, 0, 0, 0, 0}).data, Layout::kWithoutMaterials,
         4, "2147483647 vertices (25769803764 bytes), but 36 remain"},
        {Bytes{}.i32(-1).data, Layout::kWithoutMaterials, 0, "a vertex count of 0 or more, not -1"},
        {Bytes{}.i32(2000000000).i32(0).data, Layout::kWithMaterials, 4,
         "material entry 0 (68 bytes), but 4 remain"},
        {plainMesh().i32(0).data, Layout::kWithoutMaterials, 152,
         "the end of the file, but 4 bytes follow"},
    };
    const auto plain = plainMesh().data;
    for (std::size_t cut = 0; cut < plain.size(); cut += 7) {
        cases.push_back(
            {std::vector<std::uint8_t>(plain.begin(), plain.begin() + static_cast<long>(cut)),
             Layout::kWithoutMaterials, 0, ""});
    }
    for (const auto& [bytes, layout, offset, expected] : cases) {
        try {
            readMeshFile(sourceOf(bytes), layout);
            ADD_FAILURE() << expected;
        } catch (const ReadError& e) {
            if (*expected) {
                EXPECT_EQ(e.offset(), offset) << e.what();
                EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
            }
        }
    }
#ifndef TESSLOOM_SANITIZED  // the address sanitizer reserves more than the limit
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{64 << 20, 64 << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        int refused = 0;
        for (const auto& [bytes, layout, offset, expected] : cases) {
            try {
                readMeshFile(sourceOf(bytes), layout);
            } catch (const ReadError&) {
                ++refused;
            }
        }
        ::_exit(refused == static_cast<int>(cases.size()) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

// A file by its path: a FileSource takes a regular file, through a link too, and refuses what
// is not one at once, a FIFO nobody writes to included; load() gives the records of the one
// layout that fits, or a ReadError at the offset where reading stopped, also when both
// layouts fit or neither does; the converter opens its input as a FileSource does, in its own
// words.
TEST_F(Driver, FilesAreTakenByPathAndReadingSaysWhereItStopped) {
    // an empty material section, no vertices, texture vertices or faces, seven zero bounds
    const auto empty = Bytes{}.zeros(4 + 7).data;
    auto longer = empty;
    longer.resize(48);  // 4 bytes after the end read with a material section, 8 without
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir_ / "dir.obj");
    fs::create_symlink("plain.obj", dir_ / "link.obj");
    const std::string notRegular = "the input is not a regular file";
    const struct {
        std::string name;
        std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: made above, or missing
        std::optional<Layout> layout;                    // nullopt: refused
        std::size_t vertices;
        std::uint64_t offset;
        std::string error, converterError;  // a converterError: the file cannot be opened
    } rows[] = {
        {"plain.obj", plainMesh().data, Layout::kWithoutMaterials, 3, 0, "", ""},
        {"link.obj", std::nullopt, Layout::kWithoutMaterials, 3, 0, "", ""},
        {"empty.obj", empty, Layout::kWithMaterials, 0, 0, "", ""},
        {"both.obj", bothLayouts(), std::nullopt, 0, 0,
         "at byte 0: expected a size that fits one layout, not both", ""},
        {"longer.obj", longer, std::nullopt, 0, 44,
         "at byte 44: expected a mesh file of either layout; with a material section, at byte "
         "44: expected the end of the file, but 4 bytes follow; without, at byte 40: expected "
         "the end of the file, but 8 bytes follow",
         ""},
        {"short.obj", std::vector<std::uint8_t>{3, 0}, std::nullopt, 0, 0,
         "with a material section, at byte 0: expected a material entry count (4 bytes), but 2 "
         "remain; without, at byte 0: expected a vertex count (4 bytes), but 2 remain",
         ""},
        {"missing.obj", std::nullopt, std::nullopt, 0, 0,
         "at byte 0: expected a readable file: No such file or directory",
         "cannot open the input: No such file or directory"},
        {"dir.obj", std::nullopt, std::nullopt, 0, 0, "at byte 0: expected a regular file",
         notRegular},
        {"fifo", std::nullopt, std::nullopt, 0, 0, "at byte 0: expected a regular file",
         notRegular},
        {"/dev/zero", std::nullopt, std::nullopt, 0, 0, "at byte 0: expected a regular file",
         notRegular},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = row.name.starts_with("/") ? row.name : (dir_ / row.name).string();
        if (row.bytes) tessloom::test::writeFile(path, {row.bytes->begin(), row.bytes->end()});
        const std::string text = row.converterError.empty() ? readFile(path) : "";
        try {
            const MeshFile mesh = load(path);
            ASSERT_TRUE(row.layout);
            EXPECT_EQ(mesh.layout, *row.layout);
            EXPECT_EQ(mesh.vertices.size(), row.vertices);
            EXPECT_EQ(encodeMeshFile(mesh), std::vector<std::uint8_t>(text.begin(), text.end()));
        } catch (const ReadError& e) {
            EXPECT_FALSE(row.layout) << e.what();
            EXPECT_EQ(e.offset(), row.offset);
            EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
        }
        try {
            const FileSource source(path);
            EXPECT_EQ(row.converterError, "");
            ASSERT_EQ(source.size(), text.size());
            std::string bytes(text.size(), '\0');
            source.read(0, bytes.data(), bytes.size());
            EXPECT_EQ(bytes, text);
        } catch (const ReadError& e) {
            EXPECT_EQ(e.offset(), 0u);
            EXPECT_EQ(e.what(), row.error);
        }
        try {
            const tessloom::InputFile input = tessloom::openInput(path);
            EXPECT_EQ(row.converterError, "");
            EXPECT_EQ(std::fgetc(input.get()), static_cast<unsigned char>(text[0]));
        } catch (const tessloom::Rejected& e) {
            EXPECT_EQ(e.what(), row.converterError);
        }
    }
}

#ifdef TESSLOOM_INSPECT_BINARY  // built when the inspector's libraries are installed
class Inspect : public Driver {
  protected:
    using Driver::inspect;
    // Writes the bytes as m.obj and inspects it with the arguments.
    int inspect(const std::vector<std::uint8_t>& bytes, const std::string& args = "") {
        tessloom::test::writeFile(dir_ / "m.obj", std::string(bytes.begin(), bytes.end()));
        return inspect("m.obj " + args);
    }
};

// Each check fails, or warns, on a file made to break it, and only on that one.
TEST_F(Inspect, EachCheckCatchesItsFault) {
    // the check, the offset into plainMesh() of the word made to break it, its value, the outcome
    using Case = std::tuple<const char*, std::size_t, std::int32_t, const char*>;
    const std::size_t face = 4 + 36 + 4 + 4;
    const Case cases[] = {
        {"vertex indices", face + 8, 3, "FAIL"},
        {"texture indices", 0, 0, "FAIL"},  // made below
        {"face materials", face, 0, "FAIL"},
        {"bounds", 152 - 28, 0x40400001, "FAIL"},
        {"degenerate faces", face + 12, 1, "warn"},
        {"finite values", face + 28, 0x7fc00000, "warn"},
        {"normals", face + 36, 0, "warn"},      // the face normal's z: (0 0 0)
        {"texture coordinates", 0, 0, "warn"},  // made below
    };
    EXPECT_EQ(inspect(plainMesh().data), 0) << out_;
    for (const auto& [name, offset, value, outcome] : cases) {
        auto bytes = plainMesh().data;
        if (std::string(name).starts_with("texture ")) {
            // one texture vertex; face 0 names texture vertex 1, or has every corner at
            // texture vertex 0, (0, -0)
            const bool indices = std::string(name) == "texture indices";
            Bytes b;
            b.data.assign(bytes.begin(), bytes.begin() + 40);
            b.i32(1).f32s({indices ? 0.5f : 0.0f, indices ? 0.5f : -0.0f});
            b.data.insert(b.data.end(), bytes.begin() + 44, bytes.end());
            if (indices) b.data[40 + 12 + 4 + 16] = 1;
            bytes = b.data;
        } else {
            put(bytes, offset, static_cast<std::uint32_t>(value));
        }
        const int status = inspect(bytes);
        EXPECT_EQ(status, std::string(outcome) == "FAIL" ? 1 : 0) << name << "\n" << out_;
        EXPECT_NE(out_.find(std::string(outcome) + "  " + name), std::string::npos) << name << "\n"
                                                                                    << out_;
        // the same outcome in --json, and the other checks pass
        inspect(bytes, "--json");
        const auto summary = nlohmann::json::parse(out_);
        for (const auto& check : summary["checks"]) {
            const bool broken = check["name"] == name;
            EXPECT_EQ(check["outcome"], broken ? outcome : "pass") << name << ": " << check;
            EXPECT_EQ(check["offenders"], broken ? 1 : 0) << name << ": " << check;
        }
    }
    EXPECT_EQ(inspect(Bytes{}.i32(5).data), 1);
    EXPECT_NE(err_.find("tessloom-inspect: m.obj: no layout fits"), std::string::npos) << err_;
    for (const char* usage : {"--bogus", "--png p.png --size 10x10", "--png p.png --size 80x80x"})
        EXPECT_EQ(inspect(plainMesh().data, usage), 2) << usage;
    EXPECT_EQ(inspect("--version"), 0);
    EXPECT_EQ(out_, "tessloom-inspect " TESSLOOM_VERSION "\n");

    // colour only on a terminal (script gives it one), and never with NO_COLOR set
    if (std::system("command -v script >/dev/null") == 0) {
        inspect(plainMesh().data);
        for (const char* noColor : {"", "NO_COLOR=1 "}) {
            sh(std::string(noColor) + "script -qec \"'$I' m.obj\" /dev/null");
            EXPECT_EQ(out_.find("\x1b[32mpass") != std::string::npos, *noColor == '\0') << out_;
        }
        // a terminal on standard input alone does not colour a redirected output
        sh("script -qec \"'$I' m.obj > plain.txt\" /dev/null");
        const std::string plain = readFile(dir_ / "plain.txt");
        EXPECT_NE(plain.find("  pass  sizes"), std::string::npos) << plain;
        EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
    }
}

// --dump floats read back to the same bits and its names show every byte; --json parses
// and names bytes that are not UTF-8 exactly.
TEST_F(Inspect, DumpAndJsonReadBack) {
    auto bytes = plainMesh().data;
    const float awkward[] = {0.1f, 1e-45f, 3.4028235e38f, -0.0f, 16777217.0f / 3};
    for (std::size_t k = 0; k < 5; ++k) put(bytes, 4 + 4 * k, tessloom::test::bits(awkward[k]));
    // the stored bounds no longer hold these vertices: the dump is printed, the check fails
    ASSERT_EQ(inspect(bytes, "--dump"), 1);
    EXPECT_EQ(err_, "tessloom-inspect: m.obj: failed checks: bounds\n");
    EXPECT_EQ(out_.substr(0, 15), "layout without\n");
    std::istringstream lines(out_);
    std::vector<float> read;
    for (std::string line, word; std::getline(lines, line);) {
        std::istringstream fields(line);
        if (!line.starts_with("vertex ") || !(fields >> word >> word)) continue;  // "vertex", i
        for (float f = 0; fields >> word; read.push_back(f))
            EXPECT_EQ(std::from_chars(word.data(), word.data() + word.size(), f).ec, std::errc())
                << word;
    }
    ASSERT_EQ(read.size(), 9u);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(std::bit_cast<std::uint32_t>(read[static_cast<std::size_t>(k)]),
                  std::bit_cast<std::uint32_t>(awkward[k]))
            << k;

    Bytes named;
    named.i32(1).zeros(14).i32s({0, 1, 6}).text("a\x01\xff\"b\\");
    const auto plain = plainMesh().data;
    named.data.insert(named.data.end(), plain.begin(), plain.end());
    // a name is one line: control bytes, bytes above 127, quotes and backslashes escaped
    ASSERT_EQ(inspect(named.data, "--dump"), 0);
    const std::string material =
        "layout with\nmaterial 0 ambient 0 0 0 diffuse 0 0 0 specular 0 0 0 shine 0 tiling 0 0 "
        R"(offset 0 0 reflect 0 bitmap 1 name "a\x01\xff\"b\\")"
        "\n";
    EXPECT_EQ(out_.substr(0, material.size()), material);
    ASSERT_EQ(inspect(named.data, "--json"), 0);
    const auto summary = nlohmann::json::parse(out_);
    EXPECT_EQ(summary["layout"], "with");
    EXPECT_EQ(summary["counts"]["vertices"], 3);
    EXPECT_EQ(summary["materials"][0]["name"], "a\x01\xef\xbf\xbd\"b\\");
    EXPECT_EQ(summary["materials"][0]["nameHex"], "6101ff22625c");
    ASSERT_EQ(inspect(named.data, "--json --dump"), 0);
    const auto records = nlohmann::json::parse(out_)["records"];
    EXPECT_EQ(records.size(), 1u + 3 + 0 + 1 + 1);
    EXPECT_EQ(records[3]["position"][2], 3.0);
}

// --json gives each float32 as the shortest decimal that reads back to it, as vertex 0's x
// with --dump, and as the stored radius in the summary (which then fails the bounds check).
TEST_F(Inspect, JsonFloatsAreTheShortestThatReadBack) {
    using Case = std::pair<float, const char*>;
    const Case cases[] = {
        {2.56f, "2.56"},  // as a double 2.559999942779541
        {0.1f, "0.1"},
        {1.0f / 3, "0.33333334"},  // "0.3333333" is the float 0.33333331
        {1.5f, "1.5"},
        {16777216.0f, "16777216"},  // a whole number has no point
        {-0.0f, "-0"},
        {1e-45f, "1e-45"},  // the smallest subnormal
        {3.4028235e38f, "3.4028235e+38"},
        {std::numeric_limits<float>::infinity(), "null"},  // JSON has no infinity
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        auto vertex = plainMesh().data, radius = vertex;
        put(vertex, 4, tessloom::test::bits(value));
        put(radius, radius.size() - 28, tessloom::test::bits(value));
        inspect(vertex, "--json --dump");
        EXPECT_NE(out_.find(std::string("\"index\":0,\"position\":[") + text + ","),
                  std::string::npos)
            << out_;
        inspect(radius, "--json");
        EXPECT_NE(out_.find(std::string("\"radius\": ") + text + "\n"), std::string::npos) << out_;
    }
}

// A count of one takes the singular, in every line that counts something. The mesh has one
// of each: a material entry, a vertex, a texture vertex and a (degenerate) face.
TEST_F(Inspect, ACountOfOneIsSingular) {
    Bytes one;
    one.i32(1).f32s({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0}).i32(0).i32(1).i32(1).text("m");
    one.i32(1).zeros(3).i32(1).zeros(2).i32(1).zeros(7);
    one.f32s({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}).zeros(7);
    tessloom::test::writeFile(dir_ / "one.obj", std::string(one.data.begin(), one.data.end()));
    // arguments, and lines each of which must be in standard output or standard error
    using Case = std::pair<std::string, std::vector<std::string>>;
    const Case cases[] = {
        {"one.obj",
         {"one.obj: 209 bytes, with a material section",
          "counts     1 vertex, 1 texture vertex, 1 face, 1 material entry",
          "vertex indices             all corners of 1 face",
          "degenerate faces           1 record, first: face 0"}},
        {"one.obj --png p.png", {"p.png: 1600x1200, 1 face drawn, 0 not drawable"}},
        {"one.obj --gltf g.glb", {"g.glb: 1 vertex, 1 primitive, texture coordinates, normals"}},
        // one byte too many: the layout with a material section stops at the bounds' end
        {"x.obj", {"at byte 209: expected the end of the file, but 1 byte follows"}},
        // one byte too few: the bounds' 28 bytes are not all there
        {"y.obj", {"at byte 181: expected the bounds (28 bytes), but 27 remain"}},
        {"s.ase", {"s.ase: ASE scene, 1 byte, 1 mesh"}},
#ifdef TESSLOOM_HTML
        {"one.obj --html h.html", {" bytes, 1 face"}},
#endif
    };
    for (const auto& [args, lines] : cases) {
        SCOPED_TRACE(args);
        sh("cp one.obj x.obj && printf z >> x.obj && head -c 208 one.obj > y.obj && "
           "printf '*' > s.ase && \"$I\" " +
           args);
        for (const std::string& line : lines) {
            EXPECT_NE((out_ + err_).find(line), std::string::npos) << out_ << err_;
        }
    }
}

// What the converter writes, the reader reads and every check passes: the example and
// every exported scene of the corpus. None of these scenes has a degenerate face or a value
// that is not finite; the only warnings are on zero normals and on texture coordinates
// all at (0, 0), which the plain conversion leaves in some of them, and which a conversion
// with --fix (where tessloom has it) leaves in none.
TEST_F(Inspect, EveryConversionPassesEveryCheck) {
    ASSERT_EQ(run("--help"), 0);
    const bool fix = std::regex_search(out_, std::regex("[^-\\w]--fix([^-\\w]|$)"));
    std::vector<fs::path> scenes = {fs::path(TESSLOOM_SOURCE_DIR) / "examples/box.ase"};
    if (fs::is_directory(TESSLOOM_CORPUS_DIR)) {
        for (const auto& e : fs::directory_iterator(TESSLOOM_CORPUS_DIR)) {
            const std::string ext = e.path().extension().string();
            if (ext == ".ase" || ext == ".ASE") scenes.push_back(e.path());
        }
    }
    for (const fs::path& scene : scenes) {
        for (const std::string options : {"", "--fix "}) {
            if (!options.empty() && !fix) continue;
            ASSERT_EQ(run(options + "'" + scene.string() + "' m.obj"), 0) << scene << options;
            EXPECT_EQ(inspect("m.obj"), 0) << scene << "\n" << out_ << err_;
            std::istringstream lines(out_);
            for (std::string line; std::getline(lines, line);) {
                if (!line.starts_with("  warn  ")) continue;
                EXPECT_TRUE((options.empty() && line.starts_with("  warn  normals ")) ||
                            line.starts_with("  warn  texture coordinates "))
                    << scene << " " << options << "\n"
                    << out_;
            }
        }
    }
}

#endif

}  // namespace
