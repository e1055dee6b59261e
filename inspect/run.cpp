// tessloom-inspect's run: the file opened and its layout found, the checks, then the summary,
// a dump or the exports; a scene's listing and findings; every failure as one line.
#include "inspect/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "driver/progress.h"
#include "inspect/checks.h"
#include "inspect/gltf.h"
#include "inspect/html.h"
#include "inspect/preview.h"
#include "inspect/scene.h"
#include "meshfile/reader.h"
#include "output/output.h"

namespace tessloom::inspect {

namespace {

// Exports of meshes with this many faces show a progress line on a terminal.
constexpr std::int32_t kProgressFaces = 100'000;

void complain(const std::string& text) {
    std::fputs(("tessloom-inspect: " + output::escaped(text) + "\n").c_str(), stderr);
}

// Checks every record; a failed check is also one line on standard error.
bool checksPass(const std::string& path, const meshfile::ByteSource& source,
                const meshfile::Sections& sections, Checker& checker) {
    meshfile::visitMeshFile(source, sections, checker);
    const std::string failed = failedChecks(checker.results());
    if (!failed.empty()) complain(path + ": failed checks: " + failed);
    return failed.empty();
}

// The glTF export's normals, and how many faces took the normal of their winding.
std::string gltfNormals(const GltfSummary& written) {
    if (!written.normals) return "no normals";
    if (written.windingFaces == 0) return "normals";
    const auto n = written.windingFaces;
    std::string text =
        "normals (" + std::to_string(n) + (n == 1 ? " face" : " faces") + " from the winding";
    if (written.noAreaFaces > 0) {
        const auto& up = kNoAreaNormal;
        text +=
            ", " + std::to_string(written.noAreaFaces) + " of no area: " + nums({up.x, up.y, up.z});
    }
    return text + ")";
}

// The exports of one mesh file: each completed beside its path, and put in place only once
// all are; one summary line each. A large mesh's exports show their stages on a progress
// line when standard error is a terminal.
class Exports {
  public:
    Exports(const Request& request, const InputFile& source, const meshfile::Sections& sections)
        : request_(request), source_(source), sections_(sections), input_{source.id()} {}

#ifdef TESSLOOM_HTML
    // The page: the file's bytes once more, with the checks' results.
    void page(const Checker& checker) {
        const std::string& path = request_.html;
        html_ = std::make_unique<output::Output>(path, input_);
        stage("writing " + path);
        // the page: its own 600 kB or so and the file's bytes in base64
        const double expected = static_cast<double>(source_.size()) * 4 / 3 + 600e3;
        double written = 0;
        const std::string name = request_.path.substr(request_.path.find_last_of('/') + 1);
        const auto page = writePage(source_, sections_, checker, name, [&](std::string_view text) {
            html_->write(text.data(), text.size());
            written += static_cast<double>(text.size());
            advance(written / expected);
        });
        source_.requireUnchanged();  // before anything is put in place
        lines_.push_back(
            path + ": " + output::counted(page.bytes, "byte", "bytes") + ", " +
            output::counted(static_cast<std::uint64_t>(sections_.numFaces), "face", "faces"));
    }
#endif

    // The picture and the glTF file, from the whole mesh in memory.
    void fromMemory() {
        stage("reading " + request_.path);
        const meshfile::MeshFile mesh = meshfile::readMeshFile(source_, sections_.layout);
        source_.requireUnchanged();
        if (!request_.png.empty()) picture(mesh);
        if (!request_.gltf.empty()) gltf(mesh);
    }

    // Puts every file in place, then prints the summary lines: on standard error when an
    // export went to standard output, which then holds nothing else.
    void commit() {
        std::vector<output::Output*> pending;
        for (auto* out : {png_.get(), gltf_.get(), html_.get()})
            if (out) pending.push_back(out);
        output::commitAll(pending);
        if (progress_) progress_->done();  // before the summary lines, which may go to the terminal
        bool toStdout = false;
        for (const auto* out : pending) toStdout |= out->ownDescriptor() == 1;
        for (const std::string& line : lines_)
            std::fputs((output::escaped(line) + "\n").c_str(), toStdout ? stderr : stdout);
    }

  private:
    void picture(const meshfile::MeshFile& mesh) {
        const std::string& path = request_.png;
        const PictureSize size = request_.size;
        png_ = std::make_unique<output::Output>(path, input_);
        stage("drawing " + path);
        const auto drawn = writePreview(mesh, *png_, size.width, size.height, progress());
        lines_.push_back(path + ": " + std::to_string(size.width) + "x" +
                         std::to_string(size.height) + ", " +
                         output::counted(drawn.drawn, "face", "faces") + " drawn, " +
                         std::to_string(drawn.skipped) + " not drawable");
    }

    void gltf(const meshfile::MeshFile& mesh) {
        const std::string& path = request_.gltf;
        gltf_ = std::make_unique<output::Output>(path, input_);
        stage("writing " + path);
        const auto written = writeGltf(mesh, *gltf_, progress());
        lines_.push_back(path + ": " + output::counted(written.vertices, "vertex", "vertices") +
                         ", " + output::counted(written.primitives, "primitive", "primitives") +
                         ", " +
                         (written.texCoords ? "texture coordinates" : "no texture coordinates") +
                         ", " + gltfNormals(written));
    }

    // The progress line, from here on labelled `what`; none for a small mesh or without a
    // terminal.
    void stage(const std::string& what) {
        if (sections_.numFaces < kProgressFaces || !ProgressLine::wanted()) return;
        if (progress_) {
            progress_->relabel("tessloom-inspect: " + what);
        } else {
            progress_.emplace("tessloom-inspect: " + what);
        }
    }
    void advance(double share) {
        if (progress_) progress_->update(share);
    }
    std::function<void(double)> progress() {
        return [this](double share) { advance(share); };
    }

    const Request& request_;
    const InputFile& source_;
    const meshfile::Sections& sections_;
    const output::FileId input_[1];
    std::unique_ptr<output::Output> png_, gltf_, html_;
    std::vector<std::string> lines_;
    std::optional<ProgressLine> progress_;
};

// The sections, from --layout or else from the only layout the file's size fits; nullopt,
// said on standard error, when it fits both or neither.
std::optional<meshfile::Sections> sectionsOf(const Request& r, const InputFile& source) {
    if (!r.layout.empty()) {
        return meshfile::locateSections(source, r.layout == "with"
                                                    ? meshfile::Layout::kWithMaterials
                                                    : meshfile::Layout::kWithoutMaterials);
    }
    const meshfile::LayoutGuess guess = meshfile::inferLayout(source);
    if (!guess.only()) {
        complain(r.path + ": " +
                 (guess.withMaterials
                      ? "its size fits both layouts; choose one with --layout"
                      : "no layout fits: with a material section, " + guess.withMaterialsError +
                            "; without, " + guess.withoutMaterialsError));
    }
    return guess.only();
}

int inspectSource(const Request& r, const InputFile& source) {
    const std::optional<meshfile::Sections> sections = sectionsOf(r, source);
    if (!sections) return 1;
    // checks always run first, so the exit status reflects them whatever else was asked
    Checker checker(*sections);
    const bool passed = checksPass(r.path, source, *sections, checker);
    if (!r.png.empty() || !r.gltf.empty() || !r.html.empty()) {
        Exports exports(r, source, *sections);
#ifdef TESSLOOM_HTML
        if (!r.html.empty()) exports.page(checker);
#endif
        if (!r.png.empty() || !r.gltf.empty()) exports.fromMemory();
        exports.commit();
    } else if (r.dump && r.asJson) {
        dumpJson(stdout, r.path, source, *sections);
    } else if (r.dump) {
        dumpText(stdout, source, *sections);
    } else if (r.asJson) {
        printSummaryJson(stdout, r.path, source.size(), *sections, checker);
    } else {
        const bool colour = ::isatty(1) && !std::getenv("NO_COLOR");
        printSummary(stdout, r.path, source.size(), *sections, checker, colour);
    }
    source.requireUnchanged();
    return passed ? 0 : 1;
}

// A file that changed underneath may fail to read in any way: then the change is the reason.
int inspectFile(const Request& r) {
    if (r.scene || looksLikeScene(r.path)) {
        try {
            return inspectScene(stdout, r.path, r.asJson);
        } catch (const InputError& e) {
            complain(r.path + ": " + e.what());
            return 2;  // a scene that cannot be read is not a finding
        }
    }
    const InputFile source(r.path);
    try {
        return inspectSource(r, source);
    } catch (const meshfile::ReadError&) {
        source.requireUnchanged();
        throw;
    } catch (const std::length_error&) {
        source.requireUnchanged();
        throw;
    } catch (const std::bad_alloc&) {
        source.requireUnchanged();
        throw;
    }
}

// Two exports to one file, by name or through another path to it.
std::string sameFile(const Request& r) {
    const std::pair<const char*, const std::string*> exports[] = {
        {"--png", &r.png}, {"--gltf", &r.gltf}, {"--html", &r.html}};
    for (std::size_t i = 0; i < std::size(exports); ++i) {
        for (std::size_t j = i + 1; j < std::size(exports); ++j) {
            const auto& [option, path] = exports[i];
            const auto& [other, otherPath] = exports[j];
            if (path->empty() || otherPath->empty()) continue;
            struct stat a {
            }, b{};
            if (*path == *otherPath ||
                (::stat(path->c_str(), &a) == 0 && ::stat(otherPath->c_str(), &b) == 0 &&
                 a.st_dev == b.st_dev && a.st_ino == b.st_ino)) {
                return std::string(option) + " and " + other + " name the same file " + *path;
            }
        }
    }
    return "";
}

}  // namespace

std::string conflict(const Request& r, const std::function<bool(const char*)>& given) {
    for (const char* report : {"--dump", "--json"}) {
        for (const char* exported : {"--png", "--gltf", "--html"}) {
            if (given(report) && given(exported)) {
                return std::string(report) + " and " + exported +
                       " cannot be combined: the one prints records, the other writes a file";
            }
        }
    }
    if (given("--size") && !given("--png")) return "--size needs --png";
    // a scene has no records to dump, draw or export: it is converted first
    if (r.scene || looksLikeScene(r.path)) {
        for (const char* meshOnly : {"--png", "--gltf", "--html", "--dump", "--layout"}) {
            if (given(meshOnly) && r.scene) {
                return std::string(meshOnly) + " reads a mesh file; --scene reads a scene";
            }
            if (given(meshOnly)) {
                return std::string(meshOnly) + " reads a mesh file, and " + r.path +
                       " is a scene: convert it with tessloom first";
            }
        }
    }
    return sameFile(r);
}

int run(const Request& r) {
    int status = 1;
    try {
        status = inspectFile(r);
    } catch (const InputError& e) {
        complain(r.path + ": " + e.what());
    } catch (const meshfile::ReadError& e) {
        complain(r.path + ": " + e.what());
    } catch (const output::OutputError& e) {
        complain(e.what());
    } catch (const PreviewError& e) {
        complain(r.png + ": " + e.what());
    } catch (const ExportError& e) {
        complain(r.gltf + ": " + e.what());
#ifdef TESSLOOM_HTML
    } catch (const PageError& e) {
        complain(r.path + ": " + e.what());
#endif
    } catch (const std::bad_alloc&) {
        complain(r.path + ": out of memory");
    } catch (const std::length_error&) {
        complain(r.path + ": out of memory");
    }
    // what went to standard output must have arrived, to the last byte
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain(std::string("cannot write the standard output: ") + std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace tessloom::inspect
