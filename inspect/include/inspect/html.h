// One self-contained HTML page that shows a mesh file in a browser: the file's bytes, the
// summary and checks, and the viewer script with three.js, all inside the page.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "inspect/checks.h"
#include "meshfile/reader.h"

namespace tessloom::inspect {

// A mesh the page would not serve: the message says why.
class PageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Above this many faces a page is refused: the browser holds every face as three corners of
// position, normal and colour (108 bytes) besides the page's text and the file's bytes; at
// this count the page is 115 MB and headless Chromium takes about 0.9 GB and half a minute
// to show it on two cores, and twice that is past what a page should ask of a browser.
inline constexpr std::int32_t kMaxPageFaces = 1'000'000;
// The file's bytes, whichever sections hold them, are bounded as those of that many faces
// with a vertex each (88 MB, a 118 MB page): a file of few faces and tens of millions of
// vertices makes as large a page.
inline constexpr std::uint64_t kMaxPageFileBytes =
    std::uint64_t{kMaxPageFaces} * (meshfile::kFaceBytes + meshfile::kVertexBytes);

// What was written.
struct PageSummary {
    std::uint64_t bytes = 0;  // the page's size
};

// Writes the page for the mesh file `source`, of the given sections, whose records `checker`
// has seen, in pieces to `write`. `name` is the title and heading, control bytes escaped.
// Reads the file's bytes once more into the page. Throws PageError above kMaxPageFaces or
// kMaxPageFileBytes, before anything is written.
PageSummary writePage(const meshfile::ByteSource& source, const meshfile::Sections& sections,
                      const Checker& checker, const std::string& name,
                      const std::function<void(std::string_view)>& write);

}  // namespace tessloom::inspect
