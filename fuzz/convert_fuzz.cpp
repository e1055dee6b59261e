// libFuzzer target: the whole conversion, every pass and the encoder, on arbitrary bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ase/diagnostics.h"
#include "ase/meshes.h"
#include "ase/scene.h"
#include "driver/encode_scene.h"
#include "driver/merge.h"
#include "inspect/findings.h"
#include "meshfile/reader.h"

namespace {

// Tables above this are skipped, so the fuzzer explores parsing rather than allocation.
constexpr std::int64_t kMaxTableBytes = std::int64_t{64} << 20;

// The largest value that follows any occurrence of `keyword`: at least what the passes
// can read after it, since they read the same digits after a real keyword token.
std::int64_t largestAfter(std::string_view text, std::string_view keyword) {
    std::int64_t largest = 0;
    for (std::size_t at = text.find(keyword); at != std::string_view::npos;
         at = text.find(keyword, at + 1)) {
        std::size_t p = at + keyword.size();
        while (p < text.size() && (text[p] == ' ' || (text[p] >= '\t' && text[p] <= '\r'))) ++p;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
        std::int64_t value = 0;
        for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
            value = std::min<std::int64_t>(value * 10 + (text[p] - '0'), std::int64_t{1} << 31);
        }
        largest = std::max(largest, value);
    }
    return largest;
}

bool tablesFit(std::string_view text) {
    using namespace tessloom;
    // in double: the product of two saturated counts would overflow any integer
    auto count = [&](std::string_view keyword) {
        return static_cast<double>(largestAfter(text, keyword));
    };
    const double materials = std::max(1.0, count("*MATERIAL_COUNT"));
    const double bytes = count("*MESH_NUMVERTEX") * sizeof(Vertex) +
                         count("*MESH_NUMTVERTEX") * sizeof(TexVertex) +
                         count("*MESH_NUMFACES") * sizeof(Face) + materials * sizeof(Material) +
                         materials * count("*NUMSUBMTLS") * sizeof(SubMaterial);
    return bytes <= static_cast<double>(kMaxTableBytes);
}

// A listener that checks every position it hears of lies in the input.
class Positions : public tessloom::Diagnostics {
  public:
    explicit Positions(std::size_t size) : size_(size) {}
    void indexOutOfRange(std::uint64_t at, std::string_view, std::int32_t, std::size_t) override {
        check(at);
    }
    void mtlIdSearch(std::uint64_t at, std::int32_t, std::uint64_t found,
                     std::uint64_t lostFace) override {
        check(at);
        if (found != kNowhere && found <= at) __builtin_trap();
        if (lostFace != kNowhere && (lostFace <= at || (found != kNowhere && lostFace >= found)))
            __builtin_trap();
    }
    void unreadableNumber(std::uint64_t at, std::string_view, std::string_view, bool, bool,
                          double) override {
        check(at);
    }
    void textAfterEnd(std::uint64_t at) override { check(at); }
    void longLine(std::uint64_t at, std::string_view) override { check(at); }

  private:
    void check(std::uint64_t at) const {
        if (at >= size_) __builtin_trap();
    }
    std::size_t size_;
};

// The mesh file bytes, or the rejection's reason; with a listener when `watched`, which must
// not change either.
// `complete`: set when no face has a zero normal and none was listed apart.
std::string convert(const std::uint8_t* data, std::size_t size, std::size_t blockSize,
                    std::uint64_t* marks = nullptr, bool watched = false,
                    tessloom::Repairs repairs = {}, bool* complete = nullptr) {
    std::FILE* f = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return "fmemopen";
    std::string result;
    Positions positions(size);
    try {
        tessloom::MeshConverter mesh(f, "unused.obj",
                                     {.blockSize = blockSize,
                                      .diagnostics = watched ? &positions : nullptr,
                                      .repairs = repairs});
        if (marks) *marks = mesh.objectMarks();
        const bool zeroNormal =
            std::any_of(mesh.faces.begin(), mesh.faces.end(), [](const tessloom::Face& face) {
                for (const tessloom::Normal& n :
                     {face.faceNormal, face.normalA, face.normalB, face.normalC}) {
                    if (n.x == 0 && n.y == 0 && n.z == 0) return true;
                }
                return false;
            });
        if (complete) *complete = !mesh.losses().normalsApart && !zeroNormal;
        // repaired, no normal is zero
        if (repairs.fixNormals && (zeroNormal || mesh.losses().zeroNormalFaces != 0))
            __builtin_trap();
        const std::vector<std::uint8_t> bytes = tessloom::encodeMeshFile(mesh);
        if (bytes.size() != tessloom::meshFileSize(mesh)) __builtin_trap();
        // the reader takes back whatever the converter writes, and encodes it the same
        using namespace tessloom::meshfile;
        const Layout layout =
            mesh.referencedMaterial() ? Layout::kWithMaterials : Layout::kWithoutMaterials;
        if (encodeMeshFile(readMeshFile(SpanSource(bytes), layout)) != bytes) __builtin_trap();
        result.assign(bytes.begin(), bytes.end());
    } catch (const tessloom::Rejected& e) {
        result = std::string("rejected: ") + e.what();
    } catch (const std::bad_alloc&) {
        result = "out of memory";
    }
    std::fclose(f);
    return result;
}

// The inspector's scene mode: every finding and every mesh's listed line on a line of the
// text, one several-meshes finding for each mesh but the last.
void findings(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!f) return;
    try {
        const tessloom::inspect::SceneFindings scene = tessloom::inspect::findScene(f);
        const auto lines =
            static_cast<std::uint64_t>(std::count(data, data + size, std::uint8_t{'\n'})) + 1;
        std::size_t several = 0;
        for (const auto& finding : scene.findings) {
            if (finding.line < 1 || finding.line > lines) __builtin_trap();
            several += finding.id == "several-meshes";
        }
        if (several != scene.meshes.count() - 1) __builtin_trap();
        if (scene.declared.size() != scene.meshes.count()) __builtin_trap();
        for (const auto& declared : scene.declared) {
            if (declared.line < 1 || declared.line > lines) __builtin_trap();
        }
    } catch (const tessloom::Rejected&) {
    } catch (const std::bad_alloc&) {
    }
    std::fclose(f);
}

// The meshes: found alike whatever the blocks; each converted through its restricted scene
// equals the conversion of the text its ranges cut out; a merge holds the sums of their
// counts.
void checkMeshes(const std::uint8_t* data, std::size_t size, std::uint64_t marks) {
    using namespace tessloom;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SceneMeshes scene = findMeshes(text);
    const std::size_t blockSize = 1 + (size != 0 ? data[size - 1] % 97 : 0);
    const SceneMeshes pieces = findMeshes(text, blockSize);
    if (pieces.textSize != scene.textSize || pieces.meshBlocks != scene.meshBlocks ||
        pieces.blocks.size() != scene.blocks.size()) {
        __builtin_trap();
    }
    // every *GEOMOBJECT token was among the bytes the count pass counted
    if (marks < scene.blocks.size()) __builtin_trap();
    for (std::size_t i = 0; i < scene.blocks.size(); ++i) {
        const GeomBlock &a = scene.blocks[i], &b = pieces.blocks[i];
        if (a.begin != b.begin || a.end != b.end || a.closed != b.closed || a.isMesh != b.isMesh ||
            a.name != b.name || a.nameCut != b.nameCut) {
            __builtin_trap();
        }
    }
    MeshMerger merger(scene.textSize);
    std::int64_t vertices = 0, faces = 0;
    bool merged = true;
    for (std::size_t n = 0; n < std::min<std::size_t>(scene.count(), 3); ++n) {
        std::string cut;
        for (const ByteRange& r : scene.restricted(n)) cut += text.substr(r.begin, r.end - r.begin);
        // every other mesh with the repairs
        const Repairs repairs{.keepUv = n % 2 == 1, .fixNormals = n % 2 == 1};
        const std::string expected = convert(reinterpret_cast<const std::uint8_t*>(cut.data()),
                                             cut.size(), 65536, nullptr, false, repairs);
        std::FILE* f = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (!f) return;
        std::string got;
        try {
            // mesh 1: the kept text of the restricted scenes, as the driver reads them; the
            // others: their plain ranges, read from the file
            const RestrictedScenes restricted(f, scene, n == 1 ? UINT64_MAX : 0);
            MeshConverter mesh(f, "unused.obj",
                               {.blockSize = 61 + n,
                                .pieces = restricted.pieces(n),
                                .countBound = restricted.size(n),
                                .repairs = repairs});
            const std::vector<std::uint8_t> bytes = encodeMeshFile(mesh);
            got.assign(bytes.begin(), bytes.end());
            vertices += mesh.numVertex;
            faces += mesh.numFaces;
            try {
                if (merged) merger.add(mesh);
            } catch (const Rejected&) {
                merged = false;  // the meshes disagree on materials, or hold too much
            }
        } catch (const Rejected& e) {
            got = std::string("rejected: ") + e.what();
            merged = false;
        } catch (const std::bad_alloc&) {
            got = "out of memory";
            merged = false;
        }
        std::fclose(f);
        if (got != expected) __builtin_trap();
    }
    if (merged && scene.count() <= 3) {
        const meshfile::MeshFile file = merger.finish();
        if (static_cast<std::int64_t>(file.vertices.size()) != vertices ||
            static_cast<std::int64_t>(file.faces.size()) != faces) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!tablesFit(std::string_view(reinterpret_cast<const char*>(data), size))) return -1;
    // The bytes must not depend on where the blocks end, a large block against a tiny one,
    // nor on a listener.
    bool complete = false;
    const std::string whole = convert(data, size, 65536, nullptr, false, {}, &complete);
    // normals complete in the corner layout: the repair of normals changes nothing
    if (complete && convert(data, size, 65536, nullptr, false, {.fixNormals = true}) != whole) {
        __builtin_trap();
    }
    std::uint64_t marks = UINT64_MAX;  // unknown when the conversion is rejected
    const std::string pieces =
        convert(data, size, 1 + (size != 0 ? data[0] % 13 : 0), &marks, true);
    if (whole != pieces) __builtin_trap();
    // the repairs, too, whatever the blocks and with a listener
    const tessloom::Repairs fix{.keepUv = true, .fixNormals = true};
    if (convert(data, size, 65536, nullptr, false, fix) !=
        convert(data, size, 1 + (size > 1 ? data[1] % 13 : 0), nullptr, true, fix)) {
        __builtin_trap();
    }
    checkMeshes(data, size, marks);
    findings(data, size);
    // The material pass stops early where the count pass saw no more for it to do. A last
    // line it acts on without effect makes it read to the end: the mesh must not change
    // (a rejection may, as the size bounds the counts). Not after an opening quote at the
    // very end, where a bitmap's name would take the line's first word.
    std::string longer(reinterpret_cast<const char*>(data), size);
    const std::size_t last = longer.find_last_not_of(" \t\n\v\f\r");
    if (last != std::string::npos && longer[last] == '"') return 0;
    longer += "\n*MATERIAL 99\n";
    const std::string read =
        convert(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size(), 65536);
    auto converted = [](const std::string& r) {
        return !r.starts_with("rejected: ") && r != "out of memory" && r != "fmemopen";
    };
    if (converted(whole) && converted(read) && whole != read) __builtin_trap();
    return 0;
}
