// Many scenes in one run: each converted as the one-scene command line converts it, into one
// output folder, on several threads.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver/converter.h"

namespace tessloom {

struct BatchOptions {
    std::string outDir;                // created when missing
    unsigned jobs = 1;                 // threads converting at once
    std::optional<MeshChoice> choice;  // --each or --merge; --mesh has no meaning here
    RunOptions run;
};

// The output of `scenePath` in `outDir`: the name the one-scene command line derives from
// the scene's file name, in that folder. Empty for a path that names no file (ending in a
// slash, "." or "..").
std::string batchOutputPath(const std::string& outDir, const std::string& scenePath);

// Converts every scene into options.outDir. Scenes whose outputs would share a name are
// refused before anything is done. Each failure prints one line, each scene's warnings
// print together, then "N converted, M failed". Returns the exit status: 0 when every scene
// converted, 1 otherwise. A termination signal meanwhile leaves every finished output whole
// and no temporary file.
int convertBatch(const std::vector<std::string>& scenes, const BatchOptions& options);

}  // namespace tessloom
