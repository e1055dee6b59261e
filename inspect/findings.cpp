// Findings from a conversion run with a listener: messages, lines, meshes, and the limits on
// findings that repeat.
#include "inspect/findings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <tuple>
#include <utility>

#include "ase/diagnostics.h"
#include "ase/scene.h"
#include "driver/converter.h"
#include "output/output.h"

namespace tessloom::inspect {

namespace {

// Findings of one kind told one by one per mesh; the rest of a mesh's become one count.
constexpr std::size_t kMaxPerMesh = 20;

// Every kind that a scene can give once per element or line; the others come a few times
// per conversion at most.
bool limitedPerMesh(std::string_view id) {
    return id != "count-too-large" && id != "material-ref" && id != "missing-elements" &&
           id != "tvfaces-beyond-faces" && id != "ignored-after-eof" && id != "several-meshes" &&
           id != "cr-line-ends";
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The line that stands for the findings past the limit, from the first of them on.
std::string moreOf(std::string_view id, std::size_t more) {
    const bool one = more == 1;
    if (id == "index-out-of-range") {
        return plural(more, "more element line", "more element lines") +
               " of this mesh from here on " +
               (one ? "names an index outside its table" : "name an index outside their table") +
               ": dropped";
    }
    if (id == "corner-out-of-range") {
        return plural(more, "more face line", "more face lines") + " of this mesh from here on " +
               (one ? "has a corner outside its table" : "have a corner outside their table");
    }
    if (id == "face-without-mtlid") {
        return plural(more, "more face", "more faces") + " of this mesh from here on " +
               (one ? "takes its" : "take their") + " *MESH_MTLID from a later line";
    }
    if (id == "unreadable-number") {
        return plural(more, "more line", "more lines") + " of this mesh from here on " +
               (one ? "holds" : "hold") + " a value that is not a number";
    }
    if (id == "mtlid-wraps") {
        return plural(more, "more face", "more faces") + " of this mesh from here on " +
               (one ? "has" : "have") + " a material id not below its sub-materials";
    }
    if (id == "nested-submaterials") {
        return plural(more, "more *NUMSUBMTLS line", "more *NUMSUBMTLS lines") +
               " of this mesh from here on " + (one ? "stands" : "stand") +
               " inside a sub-material: passed over";
    }
    if (id == "long-line") {
        return plural(more, "more long line", "more long lines") + " of this mesh from here on " +
               (one ? "is" : "are") + " read in pieces";
    }
    if (id == "tiling-conflict") {
        return plural(more, "more texture vertex", "more texture vertices") +
               " of this mesh from here on " +
               (one ? "keeps the tiling of an earlier face, not its own"
                    : "keep the tiling of an earlier face, not their own");
    }
    if (id == "zero-tiling") {
        return plural(more, "more material entry", "more material entries") + " from here on " +
               (one ? "gives" : "give") + " no tiling: the texture coordinates they scale become 0";
    }
    return plural(more, "more finding", "more findings") + " [" + std::string(id) +
           "] of this mesh from here on";
}

// The mesh whose block holds `offset`: without mesh blocks the whole text is mesh 0. The
// blocks are in file order and do not overlap.
std::optional<std::size_t> meshAt(const SceneMeshes& meshes, std::uint64_t offset) {
    if (meshes.meshBlocks.empty()) return 0;
    const auto after = std::upper_bound(
        meshes.meshBlocks.begin(), meshes.meshBlocks.end(), offset,
        [&](std::uint64_t o, std::size_t block) { return o < meshes.blocks[block].begin; });
    if (after == meshes.meshBlocks.begin()) return std::nullopt;
    const auto n = static_cast<std::size_t>(after - meshes.meshBlocks.begin()) - 1;
    if (offset < meshes.blocks[meshes.meshBlocks[n]].end) return n;
    return std::nullopt;
}

// The line of each byte offset the findings name: one streamed count of line feeds up to
// the largest, as the converter reads the text (a line ends at a line feed and nowhere else).
class Lines {
  public:
    void want(std::uint64_t offset) {
        if (offset != Diagnostics::kNowhere) lines_.emplace(offset, 0);
    }
    void count(std::FILE* file) {
        if (lines_.empty()) return;
        if (std::fseek(file, 0, SEEK_SET) != 0) {
            throw Rejected(std::string("cannot rewind the input: ") + std::strerror(errno));
        }
        constexpr std::size_t kBlock = 1 << 16;
        const auto buffer = std::make_unique_for_overwrite<char[]>(kBlock);
        std::uint64_t offset = 0, lineFeeds = 0;
        auto next = lines_.begin();
        while (next != lines_.end()) {
            const std::size_t n = std::fread(buffer.get(), 1, kBlock, file);
            for (std::size_t i = 0;; ++i) {
                for (; next != lines_.end() && next->first <= offset + i; ++next) {
                    next->second = lineFeeds + 1;
                }
                if (i == n || next == lines_.end()) break;
                if (buffer[i] == '\n') ++lineFeeds;
            }
            offset += n;
            if (n < kBlock) break;
        }
        for (; next != lines_.end(); ++next) next->second = lineFeeds + 1;
    }
    std::uint64_t at(std::uint64_t offset) const {
        const auto it = lines_.find(offset);
        return it == lines_.end() ? 0 : it->second;
    }

  private:
    std::map<std::uint64_t, std::uint64_t> lines_;
};

std::string str(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string str(std::uint64_t value) {
    return std::to_string(value);
}

std::string str(std::int32_t value) {
    return std::to_string(value);
}

// Text from the scene, quoted, with control bytes and the like as escapes.
std::string quoted(std::string_view text) {
    return output::escaped(text, output::Escape::kQuoted);
}

// A finding whose message may name further lines, known once every line is counted.
struct Pending {
    std::uint64_t at;
    Severity severity;
    const char* id;
    std::function<std::string(const Lines&)> message;
    std::int64_t key = 0;  // what makes two findings of the same id and mesh the same
    // for the line that stands for findings past the limit: how many
    std::shared_ptr<std::size_t> more = nullptr;
};

class Collector : public Diagnostics {
  public:
    explicit Collector(const SceneMeshes& meshes)
        : declared(meshes.count()), meshes_(meshes), normals_(meshes.count()) {}

    std::vector<Pending> pending;
    Lines lines;
    std::vector<Declared> declared;

    void countRead(std::uint64_t at, std::string_view keyword, std::int32_t value) override {
        using Count = std::optional<std::int32_t> Declared::*;
        static constexpr std::pair<std::string_view, Count> kCounts[] = {
            {"*MESH_NUMVERTEX", &Declared::numVertex},
            {"*MESH_NUMFACES", &Declared::numFaces},
            {"*MESH_NUMTVERTEX", &Declared::numTVertex},
            {"*MESH_NUMTVFACES", &Declared::numTVFaces},
            {"*MATERIAL_REF", &Declared::materialRef}};
        if (meshes_.meshBlocks.empty()) return;  // the whole text is no block
        const std::optional<std::size_t> mesh = meshAt(meshes_, at);
        if (!mesh) return;
        for (const auto& [name, count] : kCounts) {
            if (name == keyword) declared[*mesh].*count = value;
        }
    }

    void facesDeclared(std::uint64_t at, std::size_t faces) override {
        facesAt_ = at;
        faces_ = faces;
    }
    void faceNormal(std::uint64_t at, bool followedDirectly) override {
        const std::optional<std::size_t> mesh = meshAt(meshes_, at);
        if (!mesh) return;
        MeshNormals& n = normals_[*mesh];
        if (n.first == kNowhere) n.first = at;
        n.apart = n.apart || !followedDirectly;
    }
    void tilingMissing(std::uint64_t at, std::int32_t material, std::int32_t sub,
                       std::uint64_t coordinates) override {
        const std::string entry =
            sub < 0 ? "material " + str(material)
                    : "sub-material " + str(sub) + " of material " + str(material);
        add(at, Severity::kWarning, "zero-tiling",
            entry + " gives no tiling: the " +
                plural(coordinates, "texture coordinate", "texture coordinates") +
                " it scales become 0 (tessloom --keep-uv keeps them)");
    }
    // After the conversion: the findings about each mesh's normals as a whole.
    void meshNormals() {
        for (std::size_t n = 0; n < normals_.size(); ++n) {
            const MeshNormals& normals = normals_[n];
            if (normals.apart) {
                add(normals.first, Severity::kWarning, "normals-apart",
                    "this mesh lists its vertex normals apart from its faces: a conversion "
                    "gives them to the corners of the faces before them, and leaves the other "
                    "faces without normals (tessloom --fix-normals gives each corner its "
                    "vertex's normal)");
            }
            const bool blocks = !meshes_.meshBlocks.empty();
            const GeomBlock block = meshes_.mesh(n);
            const std::size_t faces =
                blocks ? static_cast<std::size_t>(std::max(declared[n].numFaces.value_or(0), 0))
                       : faces_;
            if (normals.first == kNowhere && faces > 0) {
                add(blocks || facesAt_ == kNowhere ? block.begin : facesAt_, Severity::kWarning,
                    "no-normals",
                    "this mesh gives no normals: every normal of its faces is zero (tessloom "
                    "--fix-normals computes them from the faces and their smoothing groups)");
            }
        }
    }

    void countRejected(std::uint64_t at, std::string_view keyword, std::int32_t value,
                       std::uint64_t limit) override {
        std::string text = std::string(keyword) + " " + str(value);
        text += value < 0 ? " is negative: the conversion is refused"
                          : " is more than a " + str(limit) +
                                "-byte scene can hold: the conversion is refused";
        add(at, Severity::kError, "count-too-large", std::move(text));
    }
    void materialRefUnknown(std::uint64_t at, std::int32_t ref, std::int32_t count) override {
        add(at, Severity::kError, "material-ref",
            "*MATERIAL_REF " + str(ref) + " names no material of the " +
                plural(static_cast<std::uint64_t>(count), "material", "materials") +
                ": the conversion is refused");
    }
    void indexOutOfRange(std::uint64_t at, std::string_view keyword, std::int32_t index,
                         std::size_t size) override {
        add(at, Severity::kWarning, "index-out-of-range",
            std::string(keyword) + " " + str(index) + " is outside the table of " + str(size) +
                ": the line is dropped");
    }
    void elementsMissing(std::uint64_t at, std::string_view elementKeyword, std::size_t missing,
                         std::size_t size, std::size_t first) override {
        add(at, Severity::kWarning, "missing-elements",
            str(missing) + " of the " + plural(size, "index", "indices") + " this count declares " +
                (missing == 1 ? "has" : "have") + " no " + std::string(elementKeyword) +
                " line (the first is " + str(first) +
                (missing == 1 ? "): it stays zero" : "): they stay zero"));
    }
    void cornerOutOfRange(std::uint64_t at, std::string_view keyword, std::int32_t face,
                          const std::int32_t (&corners)[3], std::size_t size) override {
        const bool texture = keyword != "*MESH_FACE";
        std::string bad;
        int n = 0;
        for (const std::int32_t c : corners) {
            if (inRange(c, size)) continue;
            bad += (bad.empty() ? "" : ", ") + str(c);
            ++n;
        }
        add(at, Severity::kWarning, "corner-out-of-range",
            std::string(texture ? "texture corner" : "corner") + (n == 1 ? " " : "s ") + bad +
                " of face " + str(face) + (n == 1 ? " is" : " are") + " not below the " +
                (texture ? plural(size, "texture vertex", "texture vertices")
                         : plural(size, "vertex", "vertices")));
    }
    void mtlIdSearch(std::uint64_t at, std::int32_t face, std::uint64_t found,
                     std::uint64_t lostFace) override {
        lines.want(found);
        lines.want(lostFace);
        add(
            at, Severity::kWarning, "face-without-mtlid",
            [=](const Lines& l) {
                const std::uint64_t here = l.at(at);
                std::string text = "face " + str(face) + " has no *MESH_MTLID on its line: ";
                if (found == kNowhere) {
                    text += "none follows, its material id stays 0";
                } else {
                    const std::uint64_t there = l.at(found);
                    text += "it takes the one on line " + str(there);
                    if (there > here + 1) {
                        text += ", passing over line" + std::string(there > here + 2 ? "s " : " ") +
                                str(here + 1) + (there > here + 2 ? "-" + str(there - 1) : "");
                    }
                }
                if (lostFace != kNowhere) {
                    text += "; the *MESH_FACE on line " + str(l.at(lostFace)) + " is lost";
                }
                return text;
            },
            0);
    }
    void mtlIdWraps(std::uint64_t at, std::int32_t face, std::int32_t mtlId, std::int32_t subCount,
                    std::int32_t entry) override {
        std::string text =
            "material id " + str(mtlId) + " (face " + str(face) + ") is not below the " +
            plural(static_cast<std::uint64_t>(subCount), "sub-material", "sub-materials");
        text += entry >= 0
                    ? ": it takes sub-material " + str(entry)
                    : ": it stands for no sub-material, the face's material index is " + str(entry);
        add(at, Severity::kWarning, "mtlid-wraps", std::move(text), mtlId);
    }
    void tilingConflict(std::uint64_t at, std::int32_t texVertex, std::int32_t face,
                        std::int32_t firstFace, const float (&kept)[2],
                        const float (&own)[2]) override {
        add(at, Severity::kWarning, "tiling-conflict",
            "texture vertex " + str(texVertex) + " of face " + str(face) + " keeps the tiling " +
                str(double{kept[0]}) + " x " + str(double{kept[1]}) + " of face " + str(firstFace) +
                ", not its own " + str(double{own[0]}) + " x " + str(double{own[1]}));
    }
    void tvFacesBeyondFaces(std::uint64_t at, std::int32_t tvFaces, std::int32_t faces) override {
        add(at, Severity::kWarning, "tvfaces-beyond-faces",
            "*MESH_NUMTVFACES " + str(tvFaces) + " is above *MESH_NUMFACES " + str(faces) +
                ": texture faces past the faces are dropped");
    }
    void unreadableNumber(std::uint64_t at, std::string_view keyword, std::string_view text,
                          bool partial, bool isIndex, double value) override {
        const std::string shown = text.empty() ? "the line's end" : quoted(text);
        std::string message = std::string(keyword) + ": ";
        if (partial) {
            message += shown + " is read as " + str(value) + ", the rest of it as another token";
        } else if (isIndex) {
            message += shown + " is not a number: there is no index, nothing is stored";
        } else {
            message += shown + " is not a number: the value stays " + str(value) +
                       " and the line's later values are not read";
        }
        // one per keyword line: the first unreadable value stops the others
        add(at, Severity::kWarning, "unreadable-number", std::move(message));
    }
    void nestedSubMaterials(std::uint64_t at, std::int32_t count) override {
        add(at, Severity::kWarning, "nested-submaterials",
            "*NUMSUBMTLS " + str(count) +
                " inside a sub-material is passed over: sub-materials of sub-materials are not "
                "kept");
    }
    void textAfterEnd(std::uint64_t at) override {
        add(at, Severity::kWarning, "ignored-after-eof",
            "a control-Z ends the text here: what follows it is not read");
    }
    void longLine(std::uint64_t at, std::string_view keyword) override {
        add(at, Severity::kWarning, "long-line",
            "this line is longer than is read in one piece: " + std::string(keyword) +
                " in its rest is read as if it began a line");
    }

  private:
    struct MeshNormals {
        std::uint64_t first = kNowhere;  // its first *MESH_FACENORMAL
        bool apart = false;
    };

    void add(std::uint64_t at, Severity severity, const char* id, std::string message,
             std::int64_t key = 0) {
        add(
            at, severity, id, [m = std::move(message)](const Lines&) { return m; }, key);
    }
    void add(std::uint64_t at, Severity severity, const char* id,
             std::function<std::string(const Lines&)> message, std::int64_t key) {
        // Kinds that come once per element are kept up to the limit per mesh as they come
        // (each pass reports in file order, one mesh after another), the rest counted on one
        // line: memory stays flat whatever the scene holds.
        if (limitedPerMesh(id)) {
            Run& run = runs_[id];
            const std::optional<std::size_t> mesh = meshAt(meshes_, at);
            if (!run.started || run.mesh != mesh || at < run.lastAt) {
                run = Run{};
                run.started = true;
                run.mesh = mesh;
            } else if (at == run.lastAt) {
                return;  // one per line
            }
            run.lastAt = at;
            const bool byKey = std::string_view(id) == "mtlid-wraps";
            if (byKey && std::find(run.keys.begin(), run.keys.end(), key) != run.keys.end()) {
                return;  // a material id once per mesh
            }
            if (run.told == kMaxPerMesh) {
                if (!run.more) {
                    run.more = std::make_shared<std::size_t>(0);
                    lines.want(at);
                    pending.push_back({at, severity, id, nullptr, 0, run.more});
                }
                ++*run.more;
                return;
            }
            ++run.told;
            if (byKey) run.keys.push_back(key);
        }
        lines.want(at);
        pending.push_back({at, severity, id, std::move(message), key});
    }

    // The findings of one kind in one mesh, as they come.
    struct Run {
        bool started = false;
        std::optional<std::size_t> mesh;
        std::uint64_t lastAt = 0;
        std::size_t told = 0;
        std::vector<std::int64_t> keys;  // material ids told
        std::shared_ptr<std::size_t> more;
    };
    const SceneMeshes& meshes_;
    std::map<std::string_view, Run> runs_;
    std::vector<MeshNormals> normals_;
    std::uint64_t facesAt_ = kNowhere;
    std::size_t faces_ = 0;
};

}  // namespace

SceneFindings findScene(std::FILE* file) {
    SceneFindings scene;
    const InputGuard guard(file);
    // the meshes first: each finding is told under its mesh as it comes
    scene.meshes = findMeshes(file);
    const std::optional<std::uint64_t> returnsOnly = carriageReturnsOnly(file);
    Collector collector(scene.meshes);
    try {
        MeshConverter converter(file, "unused.obj", guard.setup({.diagnostics = &collector}));
        collector.meshNormals();
    } catch (const Rejected&) {
        // told as error findings, or the scene is unreadable
        const bool told =
            std::any_of(collector.pending.begin(), collector.pending.end(),
                        [](const Pending& p) { return p.severity == Severity::kError; });
        if (!told) throw;
    }
    if (const std::optional<std::uint64_t> at = returnsOnly) {
        collector.pending.push_back(
            {*at, Severity::kWarning, "cr-line-ends",
             [](const Lines&) {
                 return std::string(
                     "the lines end in a carriage return without a line feed: the "
                     "conversion reads the scene as one line");
             },
             0});
        collector.lines.want(*at);
    }
    // every mesh but the last is one a plain conversion does not keep
    const std::size_t meshCount = scene.meshes.meshBlocks.size();
    for (std::size_t n = 0; n + 1 < meshCount; ++n) {
        const GeomBlock& b = scene.meshes.mesh(n);
        const GeomBlock& last = scene.meshes.mesh(meshCount - 1);
        auto name = [](const GeomBlock& g) {
            return g.name ? " " + quoted(*g.name) + (g.nameCut ? " (cut)" : "") : "";
        };
        collector.pending.push_back(
            {b.begin, Severity::kWarning, "several-meshes",
             [n, b, last, meshCount, name](const Lines&) {
                 return "mesh " + std::to_string(n) + name(b) +
                        " is not kept: a plain conversion keeps only the last of the " +
                        std::to_string(meshCount) + " meshes, " + std::to_string(meshCount - 1) +
                        name(last) + " (tessloom --mesh " + std::to_string(n) + " takes this one)";
             },
             0});
    }
    // the listing's lines: each mesh's *GEOMOBJECT
    for (const std::size_t block : scene.meshes.meshBlocks) {
        collector.lines.want(scene.meshes.blocks[block].begin);
    }
    std::stable_sort(collector.pending.begin(), collector.pending.end(),
                     [](const Pending& a, const Pending& b) { return a.at < b.at; });
    collector.lines.count(file);
    scene.declared = std::move(collector.declared);
    for (std::size_t n = 0; n < scene.meshes.meshBlocks.size(); ++n) {
        scene.declared[n].line = collector.lines.at(scene.meshes.mesh(n).begin);
    }
    // Repeats: one per line and id; a material id once per mesh. Findings that come one per
    // element line (a mesh the conversion does not keep gives hundreds) were kept up to a
    // limit per mesh as they came, the rest counted on one line where they start.
    std::set<std::tuple<std::uint64_t, std::string_view>> perLine;
    std::set<std::tuple<std::optional<std::size_t>, std::int64_t>> wraps;
    for (const Pending& p : collector.pending) {
        const std::optional<std::size_t> mesh = meshAt(scene.meshes, p.at);
        const std::string_view id = p.id;
        const std::size_t heard = p.more ? *p.more : 1;
        if (!p.more) {
            if (!perLine.emplace(p.at, id).second) continue;
            if (id == "mtlid-wraps" && !wraps.emplace(mesh, p.key).second) continue;
        }
        scene.heard[p.id] += heard;
        (p.severity == Severity::kError ? scene.errors : scene.warnings) += heard;
        scene.findings.push_back({collector.lines.at(p.at), p.severity, p.id,
                                  p.more ? moreOf(id, heard) : p.message(collector.lines), mesh,
                                  p.at});
    }
    return scene;
}

std::string findingLine(std::string_view path, const Finding& finding) {
    std::string out = output::escaped(path);
    out += ':';
    out += std::to_string(finding.line);
    out += finding.severity == Severity::kError ? ": error: " : ": warning: ";
    out += finding.message;
    out += " [";
    out += finding.id;
    out += ']';
    return out;
}

std::string summaryLine(const SceneFindings& scene) {
    return plural(scene.errors, "error", "errors") + ", " +
           plural(scene.warnings, "warning", "warnings");
}

}  // namespace tessloom::inspect
