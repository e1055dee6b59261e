// The HTML page: the template's markers filled with the summary as JSON, the file's bytes in
// base64 and the bundled viewer script, each written as it is made.
#include "inspect/html.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "inspect/report.h"
#include "output/output.h"

// The page's parts, built from inspect/web/ and three.js into the program.
namespace tessloom::inspect::assets {
extern const unsigned char kTemplate[], kStyle[], kScript[], kLicence[];
extern const std::size_t kTemplateSize, kStyleSize, kScriptSize, kLicenceSize;
}  // namespace tessloom::inspect::assets

namespace tessloom::inspect {

namespace {

using nlohmann::json;

std::string_view asset(const unsigned char* bytes, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes), size};
}

std::string htmlText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// JSON that may stand inside a <script> element: ASCII only, and no '<' (which can only be
// inside a string) to end the element early.
std::string scriptJson(const json& j) {
    const std::string text = j.dump(-1, ' ', true, json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '<') {
            out += "\\u003c";
        } else {
            out += c;
        }
    }
    return out;
}

json floats(std::initializer_list<float> values) {
    json j = json::array();
    for (const float v : values) j.push_back(v);  // not finite: null
    return j;
}

const char* outcomeName(Outcome o) {
    return o == Outcome::kPassed ? "pass" : o == Outcome::kWarning ? "warn" : "FAIL";
}

// The sizes of the records the page reads and where a face's fields lie, from the one
// definition of the layout, so that the page reads what the reader reads.
json recordsJson() {
    const auto& f = meshfile::kFaceAt;
    return {{"vertexBytes", meshfile::kVertexBytes},
            {"texVertexBytes", meshfile::kTexVertexBytes},
            {"faceBytes", meshfile::kFaceBytes},
            {"face",
             {{"material", f.material},
              {"corners", f.corners},
              {"texCorners", f.texCorners},
              {"normal", f.normal},
              {"cornerNormals", f.cornerNormals}}}};
}

json summaryJson(const meshfile::ByteSource& source, const meshfile::Sections& s,
                 const Checker& checker, const std::string& name) {
    const auto& b = checker.storedBounds();
    json j = {
        {"file", output::escaped(name)},
        {"size", source.size()},
        {"layout", meshfile::layoutName(s.layout)},
        {"counts",
         {{"vertices", s.numVertex},
          {"textureVertices", s.numTVertex},
          {"faces", s.numFaces},
          {"entries", s.materialEntries}}},
        {"at",
         {{"vertices", s.verticesAt}, {"texVertices", s.texVerticesAt}, {"faces", s.facesAt}}},
        {"records", recordsJson()},
        {"bounds",
         {{"radius", num(b.radius)},
          {"x", nums({b.minX, b.maxX})},
          {"y", nums({b.minY, b.maxY})},
          {"z", nums({b.minZ, b.maxZ})},
          {"min", floats({b.minX, b.minY, b.minZ})},
          {"max", floats({b.maxX, b.maxY, b.maxZ})}}},
        {"materials", json::array()},
        {"checks", json::array()}};
    for (const auto& m : checker.materials()) {
        j["materials"].push_back({{"name", output::escaped(m.name, output::Escape::kQuoted)},
                                  {"diffuse", floats({m.diffuse[0], m.diffuse[1], m.diffuse[2]})}});
    }
    for (const auto& c : checker.results()) {
        std::string detail = c.first;
        if (c.offenders) {
            detail = output::counted(c.offenders, "record", "records") + ", first: " + c.first;
        }
        j["checks"].push_back(
            {{"outcome", outcomeName(c.outcome)}, {"name", c.name}, {"detail", detail}});
    }
    return j;
}

// The file's bytes as base64, a line per 48 KiB read.
void writeBase64(const meshfile::ByteSource& source,
                 const std::function<void(std::string_view)>& write, std::uint64_t& written) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    constexpr std::size_t kChunk = 48 * 1024;  // a multiple of 3: no padding inside
    // no larger than the file: a byte past its end is never there to be read
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, source.size())));
    std::string text;
    for (std::uint64_t at = 0; at < source.size(); at += kChunk) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, source.size() - at));
        source.read(at, bytes.data(), n);
        text.clear();
        for (std::size_t i = 0; i < n; i += 3) {
            const std::uint32_t v = std::uint32_t{bytes[i]} << 16 |
                                    (i + 1 < n ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (i + 2 < n ? std::uint32_t{bytes[i + 2]} : 0);
            text += kDigits[v >> 18];
            text += kDigits[(v >> 12) & 63];
            text += i + 1 < n ? kDigits[(v >> 6) & 63] : '=';
            text += i + 2 < n ? kDigits[v & 63] : '=';
        }
        text += '\n';
        write(text);
        written += text.size();
    }
}

}  // namespace

PageSummary writePage(const meshfile::ByteSource& source, const meshfile::Sections& sections,
                      const Checker& checker, const std::string& name,
                      const std::function<void(std::string_view)>& write) {
    if (sections.numFaces > kMaxPageFaces) {
        throw PageError(std::to_string(sections.numFaces) + " faces, more than the " +
                        std::to_string(kMaxPageFaces) +
                        " a page shows (a browser could not hold them)");
    }
    if (source.size() > kMaxPageFileBytes) {
        throw PageError(std::to_string(source.size()) + " bytes of records, more than the " +
                        std::to_string(kMaxPageFileBytes) +
                        " a page shows (a browser could not hold them)");
    }
    const std::string info = scriptJson(summaryJson(source, sections, checker, name));
    const std::string title = htmlText(output::escaped(name));
    const std::string bodyData = "data-faces=\"" + std::to_string(sections.numFaces) +
                                 "\" data-vertices=\"" + std::to_string(sections.numVertex) +
                                 "\" data-entries=\"" + std::to_string(sections.materialEntries) +
                                 "\" data-state=\"loading\"";

    PageSummary summary;
    auto put = [&](std::string_view text) {
        write(text);
        summary.bytes += text.size();
    };
    const std::string_view page = asset(assets::kTemplate, assets::kTemplateSize);
    const std::array<std::pair<std::string_view, std::string_view>, 6> fills = {{
        {"@TITLE@", title},
        {"@STYLE@", asset(assets::kStyle, assets::kStyleSize)},
        {"@BODY@", bodyData},
        {"@INFO@", info},
        {"@LICENCE@", asset(assets::kLicence, assets::kLicenceSize)},
        {"@SCRIPT@", asset(assets::kScript, assets::kScriptSize)},
    }};
    std::size_t from = 0;
    for (std::size_t at = page.find('@'); at != std::string_view::npos; at = page.find('@', at)) {
        if (page.substr(at).starts_with("@MESH@")) {
            put(page.substr(from, at - from));
            writeBase64(source, write, summary.bytes);
            from = at += 6;
            continue;
        }
        bool filled = false;
        for (const auto& [marker, text] : fills) {
            if (page.substr(at).starts_with(marker)) {
                put(page.substr(from, at - from));
                put(text);
                from = at += marker.size();
                filled = true;
                break;
            }
        }
        if (!filled) ++at;
    }
    put(page.substr(from));
    return summary;
}

}  // namespace tessloom::inspect
