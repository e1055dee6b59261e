// tessloom-inspect: shows what a mesh file holds, checks it, dumps its records, draws it
// and exports it.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/progress.h"
#include "inspect/checks.h"
#include "inspect/gltf.h"
#include "inspect/html.h"
#include "inspect/preview.h"
#include "inspect/report.h"
#include "inspect/scene.h"
#include "output/output.h"
#include "meshfile/reader.h"

namespace {

using namespace tessloom;

struct Options {
    std::string path, layout, png, gltf, html;
    inspect::PictureSize size{1600, 1200};
    bool dump = false, asJson = false, scene = false, quiet = false;
};

// Exports of meshes with this many faces show a progress line on a terminal.
constexpr std::int32_t kProgressFaces = 100'000;

void complain(const std::string& text) {
    std::fputs(("tessloom-inspect: " + output::escaped(text) + "\n").c_str(), stderr);
}

// Checks every record; a failed check is also one line on standard error.
bool checksPass(const std::string& path, const meshfile::ByteSource& source,
                const meshfile::Sections& sections, inspect::Checker& checker) {
    meshfile::visitMeshFile(source, sections, checker);
    const std::string failed = inspect::failedChecks(checker.results());
    if (!failed.empty()) complain(path + ": failed checks: " + failed);
    return failed.empty();
}

// The glTF export's normals, and how many faces took the normal of their winding.
std::string gltfNormals(const inspect::GltfSummary& written) {
    if (!written.normals) return "no normals";
    if (written.windingFaces == 0) return "normals";
    const auto n = written.windingFaces;
    std::string text =
        "normals (" + std::to_string(n) + (n == 1 ? " face" : " faces") + " from the winding";
    if (written.noAreaFaces > 0) {
        const auto& up = inspect::kNoAreaNormal;
        text += ", " + std::to_string(written.noAreaFaces) +
                " of no area: " + inspect::nums({up.x, up.y, up.z});
    }
    return text + ")";
}

// The picture and the glTF file, from the whole mesh in memory, and the HTML page: each
// completed beside its path, and put in place only once all are.
void exportFile(const Options& o, const inspect::InputFile& source,
                const meshfile::Sections& sections, const inspect::Checker& checker) {
    const output::FileId input[] = {source.id()};
    std::unique_ptr<output::Output> png, gltf, html;
    std::vector<std::string> lines;
    std::optional<ProgressLine> progress;
    auto stage = [&](const std::string& what) {
        if (sections.numFaces < kProgressFaces || !ProgressLine::wanted()) return;
        if (progress) {
            progress->relabel("tessloom-inspect: " + what);
        } else {
            progress.emplace("tessloom-inspect: " + what);
        }
    };
    auto advance = [&](double share) {
        if (progress) progress->update(share);
    };
#ifdef TESSLOOM_HTML
    if (!o.html.empty()) {
        html = std::make_unique<output::Output>(o.html, input);
        stage("writing " + o.html);
        // the page: its own 600 kB or so and the file's bytes in base64
        const double expected = static_cast<double>(source.size()) * 4 / 3 + 600e3;
        double written = 0;
        const auto page = inspect::writePage(source, sections, checker,
                                             o.path.substr(o.path.find_last_of('/') + 1),
                                             [&](std::string_view text) {
                                                 html->write(text.data(), text.size());
                                                 written += static_cast<double>(text.size());
                                                 advance(written / expected);
                                             });
        source.requireUnchanged();  // before anything is put in place
        lines.push_back(
            o.html + ": " + output::counted(page.bytes, "byte", "bytes") + ", " +
            output::counted(static_cast<std::uint64_t>(sections.numFaces), "face", "faces"));
    }
#else
    (void)checker;
#endif
    if (!o.png.empty() || !o.gltf.empty()) {
        stage("reading " + o.path);
        const meshfile::MeshFile mesh = meshfile::readMeshFile(source, sections.layout);
        source.requireUnchanged();
        if (!o.png.empty()) {
            png = std::make_unique<output::Output>(o.png, input);
            stage("drawing " + o.png);
            const auto drawn =
                inspect::writePreview(mesh, *png, o.size.width, o.size.height, advance);
            lines.push_back(o.png + ": " + std::to_string(o.size.width) + "x" +
                            std::to_string(o.size.height) + ", " +
                            output::counted(drawn.drawn, "face", "faces") + " drawn, " +
                            std::to_string(drawn.skipped) + " not drawable");
        }
        if (!o.gltf.empty()) {
            gltf = std::make_unique<output::Output>(o.gltf, input);
            stage("writing " + o.gltf);
            const auto written = inspect::writeGltf(mesh, *gltf, advance);
            lines.push_back(o.gltf + ": " +
                            output::counted(written.vertices, "vertex", "vertices") + ", " +
                            output::counted(written.primitives, "primitive", "primitives") + ", " +
                            (written.texCoords ? "texture coordinates" : "no texture coordinates") +
                            ", " + gltfNormals(written));
        }
    }
    std::vector<output::Output*> pending;
    for (auto* out : {png.get(), gltf.get(), html.get()})
        if (out) pending.push_back(out);
    output::commitAll(pending);
    if (progress) progress->done();  // before the summary lines, which may go to the terminal
    // with an export on standard output, nothing else goes there
    bool toStdout = false;
    for (const auto* out : pending) toStdout |= out->ownDescriptor() == 1;
    for (const std::string& line : lines)
        std::fputs((output::escaped(line) + "\n").c_str(), toStdout ? stderr : stdout);
}

int inspectSource(const Options& o, const inspect::InputFile& source) {
    meshfile::Sections sections;
    if (o.layout.empty()) {
        const meshfile::LayoutGuess guess = meshfile::inferLayout(source);
        if (!guess.only()) {
            complain(o.path + ": " +
                     (guess.withMaterials
                          ? "its size fits both layouts; choose one with --layout"
                          : "no layout fits: with a material section, " + guess.withMaterialsError +
                                "; without, " + guess.withoutMaterialsError));
            return 1;
        }
        sections = *guess.only();
    } else {
        sections = meshfile::locateSections(source, o.layout == "with"
                                                        ? meshfile::Layout::kWithMaterials
                                                        : meshfile::Layout::kWithoutMaterials);
    }
    // checks always run first, so the exit status reflects them whatever else was asked
    inspect::Checker checker(sections);
    const bool passed = checksPass(o.path, source, sections, checker);
    if (!o.png.empty() || !o.gltf.empty() || !o.html.empty()) {
        exportFile(o, source, sections, checker);
    } else if (o.dump && o.asJson) {
        inspect::dumpJson(stdout, o.path, source, sections);
    } else if (o.dump) {
        inspect::dumpText(stdout, source, sections);
    } else if (o.asJson) {
        inspect::printSummaryJson(stdout, o.path, source.size(), sections, checker);
    } else {
        const bool colour = ::isatty(1) && !std::getenv("NO_COLOR");
        inspect::printSummary(stdout, o.path, source.size(), sections, checker, colour);
    }
    source.requireUnchanged();
    return passed ? 0 : 1;
}

// A file that changed underneath may fail to read in any way: then the change is the reason.
int inspectFile(const Options& o) {
    if (o.scene || inspect::looksLikeScene(o.path)) {
        try {
            return inspect::inspectScene(stdout, o.path, o.asJson);
        } catch (const inspect::InputError& e) {
            complain(o.path + ": " + e.what());
            return 2;  // a scene that cannot be read is not a finding
        }
    }
    const inspect::InputFile source(o.path);
    try {
        return inspectSource(o, source);
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

// Options that cannot both be honoured, named in the refusal.
std::string conflict(const CLI::App& app, const Options& o) {
    for (const char* report : {"--dump", "--json"}) {
        for (const char* exported : {"--png", "--gltf", "--html"}) {
            if (app.count(report) && app.count(exported)) {
                return std::string(report) + " and " + exported +
                       " cannot be combined: the one prints records, the other writes a file";
            }
        }
    }
    if (app.count("--size") && !app.count("--png")) return "--size needs --png";
    // a scene has no records to dump, draw or export: it is converted first
    if (o.scene || inspect::looksLikeScene(o.path)) {
        for (const char* meshOnly : {"--png", "--gltf", "--html", "--dump", "--layout"}) {
            if (app.count(meshOnly) && o.scene) {
                return std::string(meshOnly) + " reads a mesh file; --scene reads a scene";
            }
            if (app.count(meshOnly)) {
                return std::string(meshOnly) + " reads a mesh file, and " + o.path +
                       " is a scene: convert it with tessloom first";
            }
        }
    }
    const std::pair<const char*, const std::string*> exports[] = {
        {"--png", &o.png}, {"--gltf", &o.gltf}, {"--html", &o.html}};
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

int main(int argc, char** argv) {
    // A file-size limit then fails the write, which is reported and cleaned up, instead of
    // killing the process with a temporary file left behind. A closed pipe ends the program
    // as it ends any filter, by SIGPIPE, quietly: the output module removes its temporary
    // files first.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_DFL);
    CLI::App app{"Shows what a tessloom mesh file holds and checks it."};
    app.set_version_flag("--version", "tessloom-inspect " TESSLOOM_VERSION);
    Options o;
    std::string size;
    app.add_option("file", o.path, "the mesh file")->required();
    app.add_flag("--scene", o.scene, "read the file as an ASE scene: its meshes and findings");
    app.add_flag("--dump", o.dump, "every record, one per line, for diff");
    app.add_flag("--json", o.asJson, "the summary, or with --dump every record, as JSON");
    app.add_flag("--quiet", o.quiet, "no progress line on a terminal (warnings still show)");
    app.add_option("--layout", o.layout, "read as with or without a material section")
        ->check(CLI::IsMember({"with", "without"}));
    app.add_option("--png", o.png, "draw the mesh in four views into a PNG file");
    app.add_option("--size", size, "the picture's size, WxH, each side 64 to 8192 (1600x1200)");
    app.add_option("--gltf", o.gltf, "export the mesh as a glTF 2.0 binary file (.glb)");
#ifdef TESSLOOM_HTML
    app.add_option("--html", o.html, "one HTML page that shows the mesh in a browser");
#else
    app.add_option("--html", o.html)->group("");  // taken only to say it was not built
#endif
    try {
        app.parse(argc, argv);
        if (!size.empty()) {
            const auto parsed = inspect::parseSize(size);
            if (!parsed) {
                throw CLI::ValidationError("--size " + output::escaped(size) +
                                           ": expected WxH, each side 64 to 8192");
            }
            o.size = *parsed;
        }
#ifndef TESSLOOM_HTML
        if (app.count("--html")) {
            throw CLI::ValidationError(
                "--html: this build has no HTML page (npm was missing "
                "when it was configured)");
        }
#endif
        if (const std::string refusal = conflict(app, o); !refusal.empty()) {
            throw CLI::ValidationError(output::escaped(refusal));
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (o.quiet) ProgressLine::quiet();
    int status = 1;
    try {
        status = inspectFile(o);
    } catch (const inspect::InputError& e) {
        complain(o.path + ": " + e.what());
    } catch (const meshfile::ReadError& e) {
        complain(o.path + ": " + e.what());
    } catch (const output::OutputError& e) {
        complain(e.what());
    } catch (const inspect::PreviewError& e) {
        complain(o.png + ": " + e.what());
    } catch (const inspect::ExportError& e) {
        complain(o.gltf + ": " + e.what());
#ifdef TESSLOOM_HTML
    } catch (const inspect::PageError& e) {
        complain(o.path + ": " + e.what());
#endif
    } catch (const std::bad_alloc&) {
        complain(o.path + ": out of memory");
    } catch (const std::length_error&) {
        complain(o.path + ": out of memory");
    }
    // what went to standard output must have arrived, to the last byte
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain(std::string("cannot write the standard output: ") + std::strerror(errno));
        return 1;
    }
    return status;
}
