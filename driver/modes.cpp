// Taking one, each or all of a scene's meshes: each converted as the scene restricted to it.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ase/meshes.h"
#include "ase/scene.h"
#include "driver/converter.h"
#include "encode_scene.h"
#include "merge.h"
#include "meshfile/encode.h"
#include "output/output.h"

namespace tessloom {

namespace {

std::string meshLabel(const SceneMeshes& scene, std::size_t n) {
    const GeomBlock mesh = scene.mesh(n);
    std::string label = std::to_string(n);
    if (mesh.name) {
        label += ' ';
        label += output::escaped(*mesh.name, output::Escape::kQuoted);
        if (mesh.nameCut) label += " (cut)";
    }
    return label;
}

// The first kListed meshes, then how many more: a message stays one short line.
constexpr std::size_t kListed = 20;

std::string meshList(const SceneMeshes& scene) {
    std::string list;
    const std::size_t shown = std::min(scene.count(), kListed);
    for (std::size_t n = 0; n < shown; ++n) {
        if (n != 0) list += ", ";
        list += meshLabel(scene, n);
    }
    if (shown < scene.count()) list += " and " + std::to_string(scene.count() - shown) + " more";
    return list;
}

std::string meshes(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " mesh" : " meshes");
}

// Each mesh's conversion; a rejection names the mesh.
class MeshRun {
  public:
    // The text outside the blocks, which every mesh's scene holds, is read once and kept
    // without what no pass can tell from its absence when it is no more than this.
    static constexpr std::uint64_t kOutsideLimit = std::uint64_t{64} << 20;

    MeshRun(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene,
            const Repairs& repairs)
        : input_(input),
          guard_(guard),
          scene_(scene),
          repairs_(repairs),
          restricted_(input, scene, kOutsideLimit) {}

    // Mesh n's conversion; its target names its output.
    std::unique_ptr<MeshConverter> convert(std::size_t n) {
        try {
            // the counts are bounded by the mesh's whole restricted scene, as read in full
            auto mesh =
                std::make_unique<MeshConverter>(input_, std::string(),
                                                guard_.setup({.pieces = restricted_.pieces(n),
                                                              .countBound = restricted_.size(n),
                                                              .repairs = repairs_}));
            losses_ += mesh->losses();
            return mesh;
        } catch (const Rejected& e) {
            throw Rejected("mesh " + meshLabel(scene_, n) + ": " + e.what());
        }
    }

    // What the meshes converted so far lost, together.
    const Losses& losses() const { return losses_; }

  private:
    std::FILE* input_;
    const InputGuard& guard_;
    const SceneMeshes& scene_;
    Repairs repairs_;
    RestrictedScenes restricted_;
    Losses losses_;
};

// The warnings of the meshes converted join the run's; under --strict they fail it before
// anything is put in place.
void settleWarnings(const std::string& inputPath, const RunOptions& options, const MeshRun& run,
                    std::vector<std::string>& warnings) {
    for (std::string& line : lossWarnings(inputPath, run.losses())) {
        warnings.push_back(std::move(line));
    }
    refuseWarnings(options, warnings);
}

// --each writes files only: a device, pipe or descriptor named as the output (or as one of
// the numbered names) would take either a file beside it in /dev or the meshes' bytes run
// together, so it is refused before anything is written.
void requireFileOutputs(const SceneMeshes& scene, const std::string& outputPath) {
    if (!outputPath.empty() && outputPath.back() == '/') {
        throw Rejected("the output path " + outputPath + " ends in a slash");
    }
    try {
        output::requireFileOrNothing(outputPath, "--each");
        for (std::size_t n = 0; n < scene.count(); ++n) {
            output::requireFileOrNothing(eachOutputPath(outputPath, n), "--each");
        }
    } catch (const output::OutputError& e) {
        throw Rejected(e.what());
    }
}

void convertEach(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene,
                 const std::string& inputPath, const RunOptions& options, MeshTarget& target,
                 std::vector<std::string>& warnings) {
    target.beforeEach(scene);
    MeshRun run(input, guard, scene, options.repairs);
    // Every element takes a line of its own: all the meshes together hold no more of a
    // kind than the scene has bytes, as for --merge.
    std::uint64_t vertices = 0, texVertices = 0, faces = 0;
    for (std::size_t n = 0; n < scene.count(); ++n) {
        std::unique_ptr<MeshConverter> mesh = run.convert(n);
        auto add = [&](std::uint64_t& total, std::size_t more, const char* what) {
            total += more;
            if (total > scene.textSize) {
                throw Rejected("mesh " + meshLabel(scene, n) + ": the separate meshes would hold " +
                               "more " + what + " than a " + std::to_string(scene.textSize) +
                               "-byte scene can");
            }
        };
        add(vertices, mesh->vertices.size(), "vertices");
        add(texVertices, mesh->texVertices.size(), "texture vertices");
        add(faces, mesh->faces.size(), "faces");
        target.mesh(std::move(mesh), n);
    }
    guard.checkUnchanged();
    settleWarnings(inputPath, options, run, warnings);
    target.commit();
}

void convertMerge(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene,
                  const std::string& inputPath, const RunOptions& options, MeshTarget& target,
                  std::vector<std::string>& warnings) {
    MeshRun run(input, guard, scene, options.repairs);
    MeshMerger merger(scene.textSize);
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const std::unique_ptr<MeshConverter> mesh = run.convert(n);
        try {
            merger.add(*mesh);
        } catch (const Rejected& e) {
            throw Rejected("mesh " + meshLabel(scene, n) + ": " + e.what());
        }
    }
    meshfile::MeshFile merged = merger.finish();
    guard.checkUnchanged();
    settleWarnings(inputPath, options, run, warnings);
    target.merged(std::move(merged));
    target.commit();
}

// The plain conversion: the whole scene, whatever meshes it holds.
void convertWhole(std::FILE* input, const InputGuard& guard, const std::string& inputPath,
                  const RunOptions& options, MeshTarget& target,
                  std::vector<std::string>& warnings) {
    auto converter = std::make_unique<MeshConverter>(input, std::string(),
                                                     guard.setup({.repairs = options.repairs}));
    if (converter->returnsWithoutLineFeed()) warnings.push_back(carriageReturnsWarning(inputPath));
    // the exact search only where the count pass saw the mark twice or more, in blocks
    // of the passes' size: its buffer takes the pages theirs had
    if (converter->objectMarks() >= 2) {
        const SceneMeshes scene = findMeshes(input, kDefaultBlockSize);
        if (scene.count() >= 2) warnings.push_back(severalMeshesWarning(inputPath, scene));
    }
    guard.checkUnchanged();  // the search, too, read the file the passes read
    for (std::string& line : lossWarnings(inputPath, converter->losses())) {
        warnings.push_back(std::move(line));
    }
    refuseWarnings(options, warnings);
    target.mesh(std::move(converter), MeshTarget::kWhole);
    target.commit();
}

// The command line's target: the mesh files, each put in place only once the run allows it.
class FileTarget : public MeshTarget {
  public:
    FileTarget(const std::string& inputPath, const std::optional<std::string>& outputPath,
               const InputGuard& guard, bool each)
        : output_(outputPath ? *outputPath : defaultOutputPath(inputPath)),
          named_(outputPath.has_value()),
          each_(each),
          notThese_(inputIdentity(guard.stamp().get())) {}

    void beforeEach(const SceneMeshes& scene) override { requireFileOutputs(scene, output_); }

    void mesh(std::unique_ptr<MeshConverter> mesh, std::size_t n) override {
        if (each_) {
            // each complete, its descriptor closed; renamed only once every file is complete
            outputs_.push_back(pendingMeshFile(*mesh, eachOutputPath(output_, n), notThese_,
                                               output::Output::Accept::kFilesOnly));
            return;
        }
        // a mesh chosen is named as --each names it, never as the plain conversion's file
        path_ = n == kWhole || named_ ? output_ : eachOutputPath(output_, n);
        held_ = std::move(mesh);
    }

    void merged(meshfile::MeshFile records) override { merged_ = std::move(records); }

    void commit() override {
        std::vector<output::Output*> all;
        if (held_) {
            outputs_.push_back(pendingMeshFile(*held_, path_, notThese_));
        } else if (merged_) {
            const meshfile::MeshFile& merged = *merged_;
            outputs_.push_back(pendingOutput(
                output_, notThese_, meshfile::encodedSize(merged),
                [&merged](OutBuffer& buffer) { meshfile::encodeMeshFile(merged, buffer); }));
        }
        try {
            if (!each_) {
                for (const auto& out : outputs_) out->commit();  // the one file
                return;
            }
            for (const auto& out : outputs_) all.push_back(out.get());
            output::commitAll(all);
        } catch (const output::OutputError& e) {
            throw Rejected(e.what());
        }
    }

  private:
    std::string output_;
    bool named_;
    bool each_;
    std::vector<output::FileId> notThese_;
    std::vector<std::unique_ptr<output::Output>> outputs_;
    std::string path_;
    std::unique_ptr<MeshConverter> held_;
    std::optional<meshfile::MeshFile> merged_;
};

int runConversion(const std::string& inputPath, const std::optional<std::string>& outputPath,
                  const std::optional<MeshChoice>& choice, const RunOptions& options) {
    const Conversion done = convertFile(inputPath, outputPath, choice, options, true);
    std::fwrite(done.messages.data(), 1, done.messages.size(), stderr);
    return done.ok ? 0 : 1;
}

}  // namespace

Conversion convertFile(const std::string& inputPath, const std::optional<std::string>& outputPath,
                       const std::optional<MeshChoice>& choice, const RunOptions& options,
                       bool showProgress) {
    std::vector<std::string> warnings;
    bool refused = false;
    const std::optional<std::string> failure = failureOf(inputPath, [&] {
        const InputFile input = openScene(inputPath);
        // each conversion checks its own passes; the guard covers the search and the time
        // between them too
        const InputGuard guard(input.get(), showProgress ? inputPath : std::string());
        FileTarget target(inputPath, outputPath, guard,
                          choice && choice->kind == MeshChoice::Kind::kEach);
        try {
            convertInput(input.get(), guard, inputPath, choice, options, target, warnings);
        } catch (const WarningsRefused&) {
            refused = true;  // the warnings show before the line that refuses them
            throw;
        }
    });
    Conversion done{.ok = !failure, .messages = {}};
    if (!failure || refused) {
        for (const std::string& line : warnings) done.messages += line;
    }
    if (failure) done.messages += "tessloom: " + *failure + "\n";
    return done;
}

std::string eachOutputPath(std::string_view path, std::size_t n) {
    const std::size_t cut = path.size() < 4 ? path.size() : path.size() - 4;
    std::string out(path.substr(0, cut));
    out += '.';
    out += std::to_string(n);
    out += path.substr(cut);
    return out;
}

std::string severalMeshesWarning(const std::string& inputPath, const SceneMeshes& scene) {
    const std::size_t last = scene.count() - 1;
    return "tessloom: " + output::escaped(inputPath) + " holds " + meshes(scene.count()) +
           "; the output holds the last one, " + meshLabel(scene, last) +
           " (--each or --merge keep them all)\n";
}

std::size_t selectMesh(const SceneMeshes& scene, std::string_view selector, bool byName) {
    const bool digits =
        !byName && !selector.empty() &&
        std::all_of(selector.begin(), selector.end(), [](char c) { return c >= '0' && c <= '9'; });
    const std::string list = "; the scene holds " + meshes(scene.count()) + ": " + meshList(scene);
    const std::string shown = output::escaped(selector, output::Escape::kQuoted);
    if (digits) {
        std::size_t n = 0;
        const auto [end, error] =
            std::from_chars(selector.data(), selector.data() + selector.size(), n);
        if (error != std::errc{} || n >= scene.count())
            throw Rejected("no mesh " + std::string(selector) + list);
        return n;
    }
    std::vector<std::size_t> named;
    for (std::size_t n = 0; n < scene.count(); ++n) {
        if (scene.mesh(n).name == selector) named.push_back(n);
    }
    if (named.empty()) throw Rejected("no mesh is named " + shown + list);
    if (named.size() > 1)
        throw Rejected(std::to_string(named.size()) + " meshes are named " + shown + list);
    return named.front();
}

void convertInput(std::FILE* input, const InputGuard& guard, const std::string& inputPath,
                  const std::optional<MeshChoice>& choice, const RunOptions& options,
                  MeshTarget& target, std::vector<std::string>& warnings) {
    if (!choice) {
        convertWhole(input, guard, inputPath, options, target, warnings);
        return;
    }
    const SceneMeshes scene = findMeshes(input);
    if (carriageReturnsOnly(input).has_value()) {
        warnings.push_back(carriageReturnsWarning(inputPath));
    }
    switch (choice->kind) {
        case MeshChoice::Kind::kOne: {
            const std::size_t n = selectMesh(scene, choice->selector, choice->byName);
            MeshRun run(input, guard, scene, options.repairs);
            std::unique_ptr<MeshConverter> mesh = run.convert(n);
            guard.checkUnchanged();
            settleWarnings(inputPath, options, run, warnings);
            target.mesh(std::move(mesh), n);
            target.commit();
            break;
        }
        case MeshChoice::Kind::kEach:
            convertEach(input, guard, scene, inputPath, options, target, warnings);
            break;
        case MeshChoice::Kind::kMerge:
            convertMerge(input, guard, scene, inputPath, options, target, warnings);
            break;
    }
}

int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath,
                 const RunOptions& options) {
    return runConversion(inputPath, outputPath, std::nullopt, options);
}

int convertMeshes(const std::string& inputPath, const std::optional<std::string>& outputPath,
                  const MeshChoice& choice, const RunOptions& options) {
    return runConversion(inputPath, outputPath, choice, options);
}

}  // namespace tessloom
