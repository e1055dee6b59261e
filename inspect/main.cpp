// tessloom-inspect: shows what a mesh file holds, checks it, dumps its records, draws it
// and exports it. Here the options are read; inspect/run.cpp does what they ask.
#include <CLI/CLI.hpp>
#include <csignal>
#include <string>

#include "driver/progress.h"
#include "inspect/report.h"
#include "inspect/run.h"
#include "output/output.h"

int main(int argc, char** argv) {
    using namespace tessloom;
    // A file-size limit then fails the write, which is reported and cleaned up, instead of
    // killing the process with a temporary file left behind. A closed pipe ends the program
    // as it ends any filter, by SIGPIPE, quietly: the output module removes its temporary
    // files first.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_DFL);
    output::catchTerminationSignals();
    CLI::App app{"Shows what a tessloom mesh file holds and checks it."};
    app.set_version_flag("--version", "tessloom-inspect " TESSLOOM_VERSION);
    inspect::Request r;
    std::string size;
    bool quiet = false;
    app.add_option("file", r.path, "the mesh file")->required();
    app.add_flag("--scene", r.scene, "read the file as an ASE scene: its meshes and findings");
    app.add_flag("--dump", r.dump, "every record, one per line, for diff");
    app.add_flag("--json", r.asJson, "the summary, or with --dump every record, as JSON");
    app.add_flag("--quiet", quiet, "no progress line on a terminal (warnings still show)");
    app.add_option("--layout", r.layout, "read as with or without a material section")
        ->check(CLI::IsMember({"with", "without"}));
    app.add_option("--png", r.png, "draw the mesh in four views into a PNG file");
    app.add_option("--size", size, "the picture's size, WxH, each side 64 to 8192 (1600x1200)");
    app.add_option("--gltf", r.gltf, "export the mesh as a glTF 2.0 binary file (.glb)");
#ifdef TESSLOOM_HTML
    app.add_option("--html", r.html, "one HTML page that shows the mesh in a browser");
#else
    app.add_option("--html", r.html)->group("");  // taken only to say it was not built
#endif
    try {
        app.parse(argc, argv);
        if (!size.empty()) {
            const auto parsed = inspect::parseSize(size);
            if (!parsed) {
                throw CLI::ValidationError("--size " + output::escaped(size) +
                                           ": expected WxH, each side 64 to 8192");
            }
            r.size = *parsed;
        }
#ifndef TESSLOOM_HTML
        if (app.count("--html")) {
            throw CLI::ValidationError(
                "--html: this build has no HTML page (npm was missing "
                "when it was configured)");
        }
#endif
        const auto given = [&app](const char* option) { return app.count(option) > 0; };
        if (const std::string refusal = inspect::conflict(r, given); !refusal.empty()) {
            throw CLI::ValidationError(output::escaped(refusal));
        }
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    if (quiet) ProgressLine::quiet();
    return inspect::run(r);
}
