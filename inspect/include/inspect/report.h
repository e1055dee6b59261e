// What tessloom-inspect prints: the summary, the record dumps, and the JSON forms of both;
// the input file it reads with its identity; the picture size it takes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/checks.h"
#include "meshfile/input.h"
#include "meshfile/reader.h"
#include "output/output.h"

namespace tessloom::inspect {

// "with" or "without", as --layout takes it and the dumps show it.
const char* layoutWord(meshfile::Layout layout);

// The shortest text that reads back to the same float, bit for bit.
std::string num(float v);
// Several of them, separated by spaces.
std::string nums(std::initializer_list<float> values);

// The input cannot be opened, is not a regular file, or changed while it was read.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The mesh file being inspected: the input file as every program opens it (read in place,
// never whole, with its stamp), with the inspector's words for what goes wrong.
class InputFile : public meshfile::InputFile {
  public:
    // Throws InputError naming the reason it cannot be read.
    explicit InputFile(const std::string& path);
    output::FileId id() const { return {stamp().device, stamp().inode}; }
    // Throws InputError when the file's stamp differs from when it was opened.
    void requireUnchanged() const;

  private:
    using Opened = meshfile::InputFile;
};

// The text summary: size, layout, counts, material entries, stored bounds and the checks,
// each check coloured when `colour`.
void printSummary(std::FILE* out, const std::string& path, std::uint64_t size,
                  const meshfile::Sections& sections, const Checker& checker, bool colour);
// The same as one JSON document.
void printSummaryJson(std::FILE* out, const std::string& path, std::uint64_t size,
                      const meshfile::Sections& sections, const Checker& checker);

// Every record, one line each, in a form made for diff.
void dumpText(std::FILE* out, const meshfile::ByteSource& source,
              const meshfile::Sections& sections);
// Every record as one JSON object a line, inside one array: valid JSON, flat memory.
void dumpJson(std::FILE* out, const std::string& path, const meshfile::ByteSource& source,
              const meshfile::Sections& sections);

// The names of the checks that failed, comma-separated; empty when none did.
std::string failedChecks(const std::vector<Check>& checks);

// The picture: each side from 64 to kMaxSide pixels. The whole image is held in memory at
// 4 bytes a pixel, so 8192x8192 takes 256 MiB; larger asks are refused before any work.
inline constexpr int kMinSide = 64, kMaxSide = 8192;
struct PictureSize {
    int width = 0, height = 0;
};
// WxH in decimal, each side in range; nullopt for anything else, overflow included.
std::optional<PictureSize> parseSize(std::string_view text);

}  // namespace tessloom::inspect
