// Finding the meshes of a scene: block boundaries, names, restricted scenes.
#include "ase/meshes.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ase/scanner.h"
#include "testutil.h"

namespace tessloom {
namespace {

// The text of `ranges`, cut out of `text`.
std::string cut(std::string_view text, const std::vector<ByteRange>& ranges) {
    std::string out;
    for (const ByteRange& r : ranges) out += text.substr(r.begin, r.end - r.begin);
    return out;
}

struct ExpectedBlock {
    std::string_view bytes;  // the block's text, found at its first occurrence
    bool closed;
    bool isMesh;
    std::optional<std::string> name;
};

TEST(Meshes, BlocksRunFromTheTokenToTheBraceClosingTheFirstOneOutsideStrings) {
    struct Case {
        const char* what;
        std::string_view text;
        std::vector<ExpectedBlock> blocks;
    };
    using namespace std::string_view_literals;
    // a name longer than the limit whose string the text's end cuts off, a brace in it
    const std::string longName(SceneMeshes::kMaxName + 1, 'n');
    const std::string openName = "*GEOMOBJECT {\n *MESH { }\n *NODE_NAME \"" + longName + " }";
    const Case cases[] = {
        {"no block", "*MESH_NUMVERTEX 3\n*MESH {\n}\n", {}},
        {"two meshes after a material list",
         "*MATERIAL_LIST {\n}\n*GEOMOBJECT {\n\t*NODE_NAME \"a\"\n\t*MESH {\n\t}\n}\n"
         "*GEOMOBJECT {\n\t*NODE_NAME \"b\"\n\t*MESH {\n\t}\n}\n",
         {{"*GEOMOBJECT {\n\t*NODE_NAME \"a\"\n\t*MESH {\n\t}\n}", true, true, "a"},
          {"*GEOMOBJECT {\n\t*NODE_NAME \"b\"\n\t*MESH {\n\t}\n}", true, true, "b"}}},
        {"strings hold braces and the token",
         "*GEOMOBJECT {\n *NODE_NAME \"x}*GEOMOBJECT {\"\n *MESH { \"}\" }\n}\n",
         {{"*GEOMOBJECT {\n *NODE_NAME \"x}*GEOMOBJECT {\"\n *MESH { \"}\" }\n}", true, true,
           "x}*GEOMOBJECT {"}}},
        {"a string ends at the line's end",
         "*GEOMOBJECT {\n *NODE_NAME \"open {\n *MESH { }\n}\ntail }\n",
         {{"*GEOMOBJECT {\n *NODE_NAME \"open {\n *MESH { }\n}", true, true, "open {"}}},
        {"a block that ends in its name's string, cut at the limit",
         openName,
         {{openName, false, true, std::string(SceneMeshes::kMaxName, 'n')}}},
        {"a block that never closes",
         "*GEOMOBJECT {\n *MESH {\n }\n",
         {{"*GEOMOBJECT {\n *MESH {\n }\n", false, true, std::nullopt}}},
        {"a block without *MESH, then one with it",
         "*GEOMOBJECT { *SHAPE }\n*GEOMOBJECT {\n *MESH\n}\n",
         {{"*GEOMOBJECT { *SHAPE }", true, false, std::nullopt},
          {"*GEOMOBJECT {\n *MESH\n}", true, true, std::nullopt}}},
        {"only whole tokens count",
         "x*GEOMOBJECT {\n}\n*GEOMOBJECTS {\n}\n*GEOMOBJECT {\n *MESHES {\n *MESH\"\n}\n}\n",
         {{"*GEOMOBJECT {\n *MESHES {\n *MESH\"\n}\n}", true, false, std::nullopt}}},
        {"carriage returns",
         "*GEOMOBJECT {\r\n *NODE_NAME \"open\r\n *MESH {\r\n }\r\n}\r\n*GEOMOBJECT\r{\r"
         "*NODE_NAME\t\"q\"\r*MESH\r}\r",
         {{"*GEOMOBJECT {\r\n *NODE_NAME \"open\r\n *MESH {\r\n }\r\n}", true, true, "open"},
          {"*GEOMOBJECT\r{\r*NODE_NAME\t\"q\"\r*MESH\r}", true, true, "q"}}},
        {"nothing after a control-Z",
         "*GEOMOBJECT {\n *MESH {\n}\n\x1a}\n*GEOMOBJECT {\n *MESH {}}\n"sv,
         {{"*GEOMOBJECT {\n *MESH {\n}\n", false, true, std::nullopt}}},
        {"braces before the first are passed over; the token inside an open block is its own",
         "*GEOMOBJECT } {\n *GEOMOBJECT {\n *MESH\n}\n}\n}\n",
         {{"*GEOMOBJECT } {\n *GEOMOBJECT {\n *MESH\n}\n}", true, true, std::nullopt}}},
        {"the first *NODE_NAME names the block, with or without a string",
         "*GEOMOBJECT {\n*NODE_NAME Box01\n*NODE_NAME \"late\"\n*MESH\n}\n"
         "*GEOMOBJECT {\n*NODE_NAME \"\"\n*NODE_TM {\n*NODE_NAME \"inner\"\n}\n*MESH\n}",
         {{"*GEOMOBJECT {\n*NODE_NAME Box01\n*NODE_NAME \"late\"\n*MESH\n}", true, true,
           std::nullopt},
          {"*GEOMOBJECT {\n*NODE_NAME \"\"\n*NODE_TM {\n*NODE_NAME \"inner\"\n}\n*MESH\n}", true,
           true, ""}}},
        {"tokens at the text's very end",
         "*GEOMOBJECT *MESH",
         {{"*GEOMOBJECT *MESH", false, true, std::nullopt}}},
        {"once named and a mesh, a block ends at its brace, strings, stray bytes and all; "
         "*MESH right after a brace is no token",
         "*GEOMOBJECT *NODE_NAME \"n\" *MESH } {\n{ y\x7f| \"}\" *GEOMOBJECT { }\n\"{ open\n}"
         " } *GEOMOBJECT {*MESH *NODE_NAME \"m\"}",
         {{"*GEOMOBJECT *NODE_NAME \"n\" *MESH } {\n{ y\x7f| \"}\" *GEOMOBJECT { }\n\"{ open\n}"
           " }",
           true, true, "n"},
          {"*GEOMOBJECT {*MESH *NODE_NAME \"m\"}", true, false, "m"}}},
        {"the name after the mesh data; a mark right after a brace is no token",
         "*GEOMOBJECT {\n*MESH {\n*MESH_VERTEX 0 1 2 3\n*MESH_NUMVERTEX 1\n}\n*NODE_NAME "
         "\"late\"\n}"
         "*GEOMOBJECT {\n*MESH\n}\n",
         {{"*GEOMOBJECT {\n*MESH {\n*MESH_VERTEX 0 1 2 3\n*MESH_NUMVERTEX 1\n}\n*NODE_NAME "
           "\"late\"\n}",
           true, true, "late"}}},
    };
    for (const Case& c : cases) {
        for (const std::size_t blockSize : {1, 5, 64, 1 << 16}) {
            SCOPED_TRACE(std::string(c.what) + ", blocks of " + std::to_string(blockSize));
            const SceneMeshes scene = findMeshes(c.text, blockSize);
            const std::size_t textSize = std::min(c.text.find('\x1a'), c.text.size());
            EXPECT_EQ(scene.textSize, textSize);
            ASSERT_EQ(scene.blocks.size(), c.blocks.size());
            std::size_t meshes = 0;
            for (std::size_t i = 0; i < c.blocks.size(); ++i) {
                const ExpectedBlock& want = c.blocks[i];
                const GeomBlock& got = scene.blocks[i];
                EXPECT_EQ(got.begin, c.text.find(want.bytes)) << i;
                EXPECT_EQ(got.end, got.begin + want.bytes.size()) << i;
                EXPECT_EQ(got.closed, want.closed) << i;
                EXPECT_EQ(got.isMesh, want.isMesh) << i;
                EXPECT_EQ(got.name, want.name) << i;
                if (want.isMesh) {
                    ASSERT_LT(meshes, scene.meshBlocks.size());
                    EXPECT_EQ(scene.meshBlocks[meshes++], i);
                }
            }
            EXPECT_EQ(scene.meshBlocks.size(), meshes);
            EXPECT_EQ(scene.count(), std::max<std::size_t>(meshes, 1));
        }
    }
}

// The blocks by the rules of ase/meshes.h, a byte at a time: what the search, which skips
// from one quote, brace or mark to the next 64 bytes at a time, must find.
SceneMeshes byTheRules(std::string_view text) {
    text = text.substr(0, std::min(text.find('\x1a'), text.size()));
    SceneMeshes scene;
    scene.textSize = text.size();
    auto tokenAt = [&](std::size_t i, std::string_view word) {
        return (i == 0 || Scanner::isWhite(text[i - 1])) && text.substr(i, word.size()) == word &&
               (i + word.size() == text.size() || Scanner::isWhite(text[i + word.size()]));
    };
    // a string runs to the next quote or the line's end: where it ends, or the text's end
    auto stringEnd = [&](std::size_t quote) {
        return std::min(text.find_first_of("\"\n", quote + 1), text.size());
    };
    std::optional<GeomBlock> open;
    std::size_t depth = 0;
    bool named = false;
    auto close = [&](std::uint64_t end, bool closed) {
        open->end = end;
        open->closed = closed;
        if (open->isMesh) scene.meshBlocks.push_back(scene.blocks.size());
        scene.blocks.push_back(*open);
        open.reset();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            i = stringEnd(i);
        } else if (text[i] == '{') {
            depth += open ? 1 : 0;
        } else if (text[i] == '}') {
            if (open && depth > 0 && --depth == 0) close(i + 1, true);
        } else if (!open && tokenAt(i, kGeomObject)) {
            open.emplace();
            open->begin = i;
            depth = 0;
            named = false;
        } else if (open && tokenAt(i, "*MESH")) {
            open->isMesh = true;
        } else if (open && !named && tokenAt(i, "*NODE_NAME")) {
            named = true;
            std::size_t q = i + 10;
            while (q < text.size() && text[q] != '\n' && Scanner::isWhite(text[q])) ++q;
            if (q == text.size() || text[q] != '"') continue;
            const std::size_t end = stringEnd(q);
            std::string name(text.substr(q + 1, end - q - 1));
            if (end < text.size() && text[end] == '\n' && name.ends_with('\r')) name.pop_back();
            open->nameCut = name.size() > SceneMeshes::kMaxName;
            if (open->nameCut) name.resize(SceneMeshes::kMaxName);
            open->name = name;
            i = end;
        }
    }
    if (open) close(text.size(), false);
    return scene;
}

::testing::AssertionResult sameBlocks(const SceneMeshes& got, const SceneMeshes& want) {
    if (got.textSize != want.textSize || got.meshBlocks != want.meshBlocks ||
        got.blocks.size() != want.blocks.size()) {
        return ::testing::AssertionFailure()
               << got.blocks.size() << " blocks, " << got.meshBlocks.size() << " meshes instead of "
               << want.blocks.size() << ", " << want.meshBlocks.size();
    }
    for (std::size_t i = 0; i < want.blocks.size(); ++i) {
        const GeomBlock &a = got.blocks[i], &b = want.blocks[i];
        if (a.begin != b.begin || a.end != b.end || a.closed != b.closed || a.isMesh != b.isMesh ||
            a.name != b.name || a.nameCut != b.nameCut) {
            return ::testing::AssertionFailure()
                   << "block " << i << ": [" << a.begin << ", " << a.end << ") instead of ["
                   << b.begin << ", " << b.end << "), name " << a.name.value_or("(none)")
                   << " instead of " << b.name.value_or("(none)");
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(Meshes, TheSearchFindsWhatTheRulesGiveAtEveryPlaceAndBlockSize) {
    std::string vertices;  // mesh data, a few 64-byte steps long
    for (int i = 0; i < 6; ++i)
        vertices += "\t\t*MESH_VERTEX " + std::to_string(i) + " 1.5 -2.0 3.25\n";
    std::vector<std::string> texts = {
        "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n" + vertices + "}\n}\n" +
            "*GEOMOBJECT {\n*NODE_NAME \"b\"\n*MESH {\n" + vertices + "}\n}\n",
        // marks in strings and in text that only looks like a comment
        "*COMMENT \"*GEOMOBJECT {\"\n// *GEOMOBJECT { *NODE_NAME \"c\" *MESH }\n\"*GEOMOBJECT\n"
        "*GEOMOBJECT { \"*MESH\" *NODE_NAME \"}\" *MESH { \"}\" " +
            vertices + "\"{\n} }",
        // braces in strings and strings cut by the line's end inside mesh data
        "*GEOMOBJECT {\r\n\t*NODE_NAME \"crlf\r\n\t*MESH {\r\n" + vertices +
            "\t\"}}\r\n\t}\r\n}\r\n*GEOMOBJECT\r{\r*MESH\r*NODE_NAME\r\"q\"\r}\r",
        // stray closing braces, bytes the fast test takes for braces, a mark after a brace
        "} *GEOMOBJECT *NODE_NAME \"n\" *MESH } } {" + vertices +
            "y\x7f|z {}} }*GEOMOBJECT {*MESH}\n*GEOMOBJECT *MESH *NODE_NAME \"m\" { y }",
        // the name or the mesh late, or never: the mesh data looked at star by star
        "*GEOMOBJECT {\n*MESH {\n" + vertices + "}\n*NODE_NAME \"late\"\n}\n" +
            "*GEOMOBJECT {\n*NODE_NAME\n*MESH {\n" + vertices + "}\n*NODE_NAME \"x\"}\n" +
            "*GEOMOBJECT { *SHAPE {" + vertices + "} *MESH\n}",
        // a block open at a control-Z, and at the text's end
        "*GEOMOBJECT { *NODE_NAME \"z\" *MESH {" + vertices + "\x1a}}\n*GEOMOBJECT { *MESH }",
        "*GEOMOBJECT { *NODE_NAME \"end\" *MESH {" + vertices + "} \"open",
        // names at the limit of what is kept, with a carriage return before the line feed
        "*GEOMOBJECT { *NODE_NAME \"" + std::string(SceneMeshes::kMaxName, 'n') + "\r\n*MESH }\n" +
            "*GEOMOBJECT { *NODE_NAME \"" + std::string(SceneMeshes::kMaxName + 1, 'n') +
            "\r\n*MESH }",
    };
    // every mark, quote and brace at every place of a 64-byte step
    for (std::size_t t = 0, fixed = texts.size(); t < fixed; ++t) {
        for (std::size_t shift = 1; shift <= 64; ++shift) {
            texts.push_back(std::string(shift, shift % 2 ? ' ' : '\n') + texts[t]);
        }
    }
    // pieces that move the search from one state to another, and the gaps between them
    const std::string_view pieces[] = {"*GEOMOBJECT",
                                       "*MESH",
                                       "*NODE_NAME",
                                       "{",
                                       "}",
                                       "\"",
                                       "*G",
                                       "G",
                                       "*",
                                       "y",
                                       "\x7f",
                                       "*MESH{",
                                       "}*GEOMOBJECT",
                                       "\"{\"",
                                       "*NODE_NAME \"x\"",
                                       "*MESH_NUMVERTEX 3",
                                       "*MESH_VERTEX 0 1.0 2.0 3.0",
                                       "*MESH_FACE 0: A: 0 B: 1 C: 2"};
    const std::string_view gaps[] = {"", " ", "\n", "\t", "\r\n"};
    std::mt19937 random(20);
    for (int t = 0; t < 1000; ++t) {
        std::string text;
        const std::size_t count = 10 + random() % 60;
        for (std::size_t i = 0; i < count; ++i) {
            text += pieces[random() % std::size(pieces)];
            text += gaps[random() % std::size(gaps)];
        }
        if (t % 50 == 0) text[random() % text.size()] = '\x1a';  // a control-Z ends the text
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const SceneMeshes want = byTheRules(text);
        for (const std::size_t blockSize : {1, 2, 3, 7, 16, 63, 64, 65, 1 << 16}) {
            ASSERT_TRUE(sameBlocks(findMeshes(text, blockSize), want))
                << "in blocks of " << blockSize << ":\n"
                << text.substr(0, 300);
        }
    }
}

TEST(Meshes, TheStreamIsReadFromItsStart) {
    const std::string text = "*GEOMOBJECT {\n *NODE_NAME \"a\"\n *MESH_NUMVERTEX 8\n *MESH\n}\n";
    test::TextFile file(text);
    std::fseek(file.get(), 7, SEEK_SET);
    const SceneMeshes scene = findMeshes(file.get(), 3);
    ASSERT_EQ(scene.count(), 1u);
    const GeomBlock mesh = scene.mesh(0);
    EXPECT_EQ(mesh.begin, 0u);
    EXPECT_EQ(mesh.end, text.size() - 1);
    EXPECT_EQ(mesh.name, "a");
}

TEST(Meshes, ARestrictedSceneLeavesOutEveryOtherBlock) {
    const std::string head = "*MATERIAL_LIST {\n *MATERIAL_COUNT 1\n}\n";
    const std::string a = "*GEOMOBJECT {\n *NODE_NAME \"a\"\n *MESH {\n }\n}";
    const std::string shape = "*GEOMOBJECT {\n *SHAPE\n}";
    const std::string b = "*GEOMOBJECT {\n *NODE_NAME \"b\"\n *MESH {\n }\n}";
    const std::string text = head + a + "\n" + shape + " " + b + "\n*CAMERAOBJECT {\n}\n";
    const SceneMeshes scene = findMeshes(text);
    ASSERT_EQ(scene.count(), 2u);
    EXPECT_EQ(cut(text, scene.restricted(0)), head + a + "\n \n*CAMERAOBJECT {\n}\n");
    EXPECT_EQ(cut(text, scene.restricted(1)), head + "\n " + b + "\n*CAMERAOBJECT {\n}\n");
    // mesh 0 and the line feed after it are one range with the head; then the blank, the tail
    EXPECT_EQ(scene.restricted(0).size(), 3u);

    // without mesh blocks the whole text is the one mesh, other blocks included
    const std::string noMesh = head + shape + "\x1a tail";
    const SceneMeshes whole = findMeshes(noMesh);
    EXPECT_EQ(whole.count(), 1u);
    EXPECT_EQ(cut(noMesh, whole.restricted(0)), head + shape);
    EXPECT_EQ(whole.mesh(0).end, (head + shape).size());
    EXPECT_EQ(whole.mesh(0).name, std::nullopt);

    // a lone carriage return before a cut becomes one before a line feed
    const std::string crs = head + a + "\r" + b + "\n*GEOMOBJECT { *MESH_NUMFACES 9 }\r\n";
    const SceneMeshes cr = findMeshes(crs);
    EXPECT_EQ(cut(crs, cr.restricted(0)), head + a + "\r\n\r\n");
    EXPECT_EQ(cut(crs, cr.restricted(1)), head + "\r" + b + "\n\r\n");
}

TEST(Meshes, TheCountPassCountsTheMarkAnywhereInTheText) {
    const std::pair<std::string, std::uint64_t> cases[] = {
        {"", 0},
        {"*GEOMOBJECT", 1},
        {"*GEOMOBJECT {\n*GEOMOBJECT {", 2},
        {"x*GEOMOBJECTx \"*GEOMOBJECT\" *GEOMOBJECT*GEOMOBJECT", 4},
        {"*GEOMOBJEC *GEOMOBJECJ GEOMOBJECT *GEOM\nOBJECT", 0},
        {"*GEOMOBJECT\x1a*GEOMOBJECT", 1},
        {std::string(300, ' ') + "*GEOMOBJECT" + std::string(5000, 'J') + "*GEOMOBJECT", 2},
    };
    for (const auto& [text, marks] : cases) {
        for (const std::size_t blockSize : {1, 2, 3, 10, 11, 12, 4096}) {
            EXPECT_EQ(test::convert(text, blockSize)->objectMarks(), marks)
                << text.substr(0, 60) << " in blocks of " << blockSize;
        }
    }
}

}  // namespace
}  // namespace tessloom
