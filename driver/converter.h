// The conversion run as the command line sees it: one scene in, one mesh file out.
#pragma once

#include <optional>
#include <string>

namespace tessloom {

// Converts inputPath and writes the mesh file. Returns the exit status: 0 once the file is
// complete and in place, 1 after printing one "tessloom: " line on standard error.
int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath);

}  // namespace tessloom
