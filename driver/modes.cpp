// Taking one, each or all of a scene's meshes: each converted as the scene restricted to it.
#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "ase/meshes.h"
#include "ase/scene.h"
#include "driver/converter.h"
#include "driver/encode_scene.h"
#include "driver/merge.h"
#include "meshfile/encode.h"
#include "meshfile/output.h"

namespace tessloom {

namespace {

std::string meshLabel(const SceneMeshes& scene, std::size_t n) {
    const GeomBlock mesh = scene.mesh(n);
    std::string label = std::to_string(n);
    if (mesh.name) {
        label += ' ';
        label += output::escaped(*mesh.name, output::Escape::kQuoted);
    }
    return label;
}

std::string meshList(const SceneMeshes& scene) {
    std::string list;
    for (std::size_t n = 0; n < scene.count(); ++n) {
        if (n != 0) list += ", ";
        list += meshLabel(scene, n);
    }
    return list;
}

std::string meshes(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " mesh" : " meshes");
}

// The input's identity, so that no output replaces it.
std::vector<output::FileId> inputIdentity(std::FILE* input) {
    return {output::fileIdOf(::fileno(input))};
}

// Each mesh's conversion; a rejection names the mesh.
class MeshRun {
  public:
    // The text outside the blocks, which every mesh's scene holds, is read once when it
    // is no more than this.
    static constexpr std::uint64_t kOutsideLimit = std::uint64_t{16} << 20;

    MeshRun(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene)
        : input_(input),
          guard_(guard),
          scene_(scene),
          outside_(readOutside(input, scene, kOutsideLimit)) {}

    std::unique_ptr<MeshConverter> convert(std::size_t n, std::string outputPath) const {
        try {
            return std::make_unique<MeshConverter>(
                input_, std::move(outputPath),
                guard_.setup({.ranges = scene_.restricted(n), .outside = &outside_}));
        } catch (const Rejected& e) {
            throw Rejected("mesh " + meshLabel(scene_, n) + ": " + e.what());
        }
    }

  private:
    std::FILE* input_;
    const InputGuard& guard_;
    const SceneMeshes& scene_;
    OutsideText outside_;
};

// Several pending outputs need a descriptor each for their directory: as many as the
// hard limit allows.
void allowDescriptors(std::size_t wanted) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted + 64) return;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, static_cast<rlim_t>(wanted + 64));
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

void convertEach(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene,
                 const std::string& outputPath) {
    const MeshRun run(input, guard, scene);
    const std::vector<output::FileId> notThese = inputIdentity(input);
    allowDescriptors(scene.count());
    std::vector<std::unique_ptr<output::Output>> outputs;
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const std::string path = eachOutputPath(outputPath, n);
        // each complete, its descriptor closed; renamed only once every file is complete
        outputs.push_back(pendingMeshFile(*run.convert(n, path), path, notThese));
    }
    guard.checkUnchanged();
    std::vector<output::Output*> all;
    for (const auto& out : outputs) all.push_back(out.get());
    output::commitAll(all);
}

void convertMerge(std::FILE* input, const InputGuard& guard, const SceneMeshes& scene,
                  const std::string& outputPath) {
    const MeshRun run(input, guard, scene);
    MeshMerger merger(scene.textSize);
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const std::unique_ptr<MeshConverter> mesh = run.convert(n, outputPath);
        try {
            merger.add(*mesh);
        } catch (const Rejected& e) {
            throw Rejected("mesh " + meshLabel(scene, n) + ": " + e.what());
        }
    }
    const meshfile::MeshFile merged = merger.finish();
    guard.checkUnchanged();
    pendingOutput(outputPath, inputIdentity(input), meshfile::encodedSize(merged),
                  [&merged](OutBuffer& buffer) { meshfile::encodeMeshFile(merged, buffer); })
        ->commit();
}

}  // namespace

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

std::size_t selectMesh(const SceneMeshes& scene, std::string_view selector) {
    const bool digits =
        !selector.empty() &&
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

int convertMeshes(const std::string& inputPath, const std::optional<std::string>& outputPath,
                  const MeshChoice& choice) {
    return reportFailure(inputPath, [&] {
        const InputFile input = openInput(inputPath);
        // each conversion checks its own passes; the guard covers the search and the time
        // between them too
        const InputGuard guard(input.get(), inputPath);
        const SceneMeshes scene = findMeshes(input.get(), kSearchBlock, MeshDetail::kNames);
        const std::string output = outputPath ? *outputPath : defaultOutputPath(inputPath);
        switch (choice.kind) {
            case MeshChoice::Kind::kOne: {
                const std::size_t n = selectMesh(scene, choice.selector);
                const std::unique_ptr<MeshConverter> mesh =
                    MeshRun(input.get(), guard, scene).convert(n, output);
                guard.checkUnchanged();
                writeMeshFile(*mesh, input.get());
                break;
            }
            case MeshChoice::Kind::kEach:
                convertEach(input.get(), guard, scene, output);
                break;
            case MeshChoice::Kind::kMerge:
                convertMerge(input.get(), guard, scene, output);
                break;
        }
    });
}

}  // namespace tessloom
