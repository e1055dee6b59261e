// What tessloom-inspect prints: the summary, the record dumps, and the JSON forms of both;
// the input file it reads with its identity; the picture size it takes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/checks.h"
#include "output/output.h"
#include "meshfile/reader.h"

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

// The mesh file being inspected: read in place, never whole, with what fstat said of it
// when opened, so that a file changed while it was read is noticed.
class InputFile : public meshfile::ByteSource {
  public:
    // Throws InputError naming the reason it cannot be read.
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, void* out, std::size_t n) const override;
    output::FileId id() const { return id_; }
    // Throws InputError when the file's identity, size or modification time differ from
    // when it was opened.
    void requireUnchanged() const;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    output::FileId id_;
    timespec modified_{};
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
