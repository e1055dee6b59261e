// What tessloom-inspect does once its options are read: the refusals of options that cannot
// go together, and the run itself, from opening the file to the exit status.
#pragma once

#include <functional>
#include <string>

#include "inspect/report.h"

namespace tessloom::inspect {

// What the command line asked for.
struct Request {
    std::string path;                   // the mesh file or scene
    std::string layout;                 // "with", "without" or empty: inferred
    std::string png, gltf, html;        // where to write each export; empty: not asked
    PictureSize size{1600, 1200};       // the picture's
    bool dump = false, asJson = false;  // every record, and either as JSON
    bool scene = false;                 // read the file as a scene whatever it looks like
};

// The refusal of options that cannot both be honoured, naming them; empty when there is
// none. `given` says whether an option ("--png", "--size", ...) was on the command line.
std::string conflict(const Request& request, const std::function<bool(const char*)>& given);

// Inspects, dumps, draws or exports as asked; every failure is one line on standard error
// beginning "tessloom-inspect: ". Returns the exit status: 0, 1 for a failed check or any
// failure, 2 for a scene that cannot be read.
int run(const Request& request);

}  // namespace tessloom::inspect
