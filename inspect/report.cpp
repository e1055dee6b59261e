// The inspector's reports, written to a stream; the input file with its stamp.
#include "inspect/report.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

namespace tessloom::inspect {

namespace {

using nlohmann::json;

std::string quoted(const std::string& bytes) {
    return output::escaped(bytes, output::Escape::kQuoted);
}

// In JSON a name is a string; bytes that are not UTF-8 become U+FFFD there, and the exact
// bytes follow as hex in "nameHex".
json nameJson(const std::string& name, json& owner) {
    try {
        (void)json(name).dump();
    } catch (const json::type_error&) {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        for (const char c : name) {
            hex += kHex[static_cast<unsigned char>(c) >> 4];
            hex += kHex[static_cast<unsigned char>(c) & 15];
        }
        owner["nameHex"] = hex;
    }
    return name;
}

json materialJson(std::size_t i, const meshfile::MaterialEntry& m) {
    json j = {{"index", i},
              {"ambient", {m.ambient[0], m.ambient[1], m.ambient[2]}},
              {"diffuse", {m.diffuse[0], m.diffuse[1], m.diffuse[2]}},
              {"specular", {m.specular[0], m.specular[1], m.specular[2]}},
              {"shine", m.shine},
              {"tiling", {m.uTiling, m.vTiling}},
              {"offset", {m.uOffset, m.vOffset}},
              {"reflectRefract", m.reflectRefract},
              {"hasBitmap", m.hasBitmap}};
    j["name"] = nameJson(m.name, j);
    return j;
}

json boundsJson(const meshfile::Bounds& b) {
    return {
        {"radius", b.radius}, {"min", {b.minX, b.minY, b.minZ}}, {"max", {b.maxX, b.maxY, b.maxZ}}};
}

// The JSON text of `j` as json::dump lays it out, but every number that is a float32 value
// (all floats here come from the file's float32 fields) as the shortest decimal that reads
// back to that float32: 2.56, not 2.559999942779541.
void appendJson(std::string& out, const json& j, int indent, int depth) {
    auto newline = [&](int level) {
        if (indent < 0) return;
        out += '\n';
        out.append(static_cast<std::size_t>(indent * level), ' ');
    };
    if (j.is_object() || j.is_array()) {
        const bool object = j.is_object();
        if (j.empty()) {
            out += object ? "{}" : "[]";
            return;
        }
        out += object ? '{' : '[';
        bool first = true;
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!first) out += ',';
            first = false;
            newline(depth + 1);
            if (object) {
                out += json(it.key()).dump(-1, ' ', false, json::error_handler_t::replace);
                out += indent < 0 ? ":" : ": ";
            }
            appendJson(out, *it, indent, depth + 1);
        }
        newline(depth);
        out += object ? '}' : ']';
        return;
    }
    if (j.is_number_float()) {
        const double d = j.get<double>();
        char text[32];
        const auto f = static_cast<float>(d);
        if (!std::isfinite(d)) {
            out += "null";  // as json::dump writes it: JSON has no infinity or NaN
        } else if (static_cast<double>(f) == d) {
            out.append(text, std::to_chars(text, text + sizeof text, f).ptr);
        } else {
            out.append(text, std::to_chars(text, text + sizeof text, d).ptr);
        }
        return;
    }
    out += j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string jsonText(const json& j, int indent = -1) {
    std::string out;
    appendJson(out, j, indent, 0);
    return out;
}

const char* outcomeName(Outcome o) {
    return o == Outcome::kPassed ? "pass" : o == Outcome::kWarning ? "warn" : "FAIL";
}

class TextDump : public meshfile::MeshVisitor {
  public:
    explicit TextDump(std::FILE* out) : out_(out) {}
    void material(std::size_t i, const meshfile::MaterialEntry& m) override {
        std::fprintf(out_,
                     "material %zu ambient %s diffuse %s specular %s shine %s tiling %s offset %s "
                     "reflect %d bitmap %d name %s\n",
                     i, nums({m.ambient[0], m.ambient[1], m.ambient[2]}).c_str(),
                     nums({m.diffuse[0], m.diffuse[1], m.diffuse[2]}).c_str(),
                     nums({m.specular[0], m.specular[1], m.specular[2]}).c_str(),
                     num(m.shine).c_str(), nums({m.uTiling, m.vTiling}).c_str(),
                     nums({m.uOffset, m.vOffset}).c_str(), m.reflectRefract, m.hasBitmap,
                     quoted(m.name).c_str());
    }
    void vertex(std::size_t i, const meshfile::Position& v) override {
        std::fprintf(out_, "vertex %zu %s\n", i, nums({v.x, v.y, v.z}).c_str());
    }
    void texVertex(std::size_t i, const meshfile::TexCoord& t) override {
        std::fprintf(out_, "tvertex %zu %s\n", i, nums({t.u, t.v}).c_str());
    }
    void face(std::size_t i, const meshfile::FaceRecord& f) override {
        auto n = [](const meshfile::Position& p) { return nums({p.x, p.y, p.z}); };
        std::fprintf(out_,
                     "face %zu material %d vertices %d %d %d tvertices %d %d %d normal %s a %s "
                     "b %s c %s\n",
                     i, f.material, f.a, f.b, f.c, f.ta, f.tb, f.tc, n(f.faceNormal).c_str(),
                     n(f.normalA).c_str(), n(f.normalB).c_str(), n(f.normalC).c_str());
    }
    void bounds(const meshfile::Bounds& b) override {
        std::fprintf(out_, "bounds radius %s x %s y %s z %s\n", num(b.radius).c_str(),
                     nums({b.minX, b.maxX}).c_str(), nums({b.minY, b.maxY}).c_str(),
                     nums({b.minZ, b.maxZ}).c_str());
    }

  private:
    std::FILE* out_;
};

class JsonDump : public meshfile::MeshVisitor {
  public:
    explicit JsonDump(std::FILE* out) : out_(out) {}
    void material(std::size_t i, const meshfile::MaterialEntry& m) override {
        emit("material", materialJson(i, m));
    }
    void vertex(std::size_t i, const meshfile::Position& v) override {
        emit("vertex", {{"index", i}, {"position", {v.x, v.y, v.z}}});
    }
    void texVertex(std::size_t i, const meshfile::TexCoord& t) override {
        emit("tvertex", {{"index", i}, {"uv", {t.u, t.v}}});
    }
    void face(std::size_t i, const meshfile::FaceRecord& f) override {
        auto n = [](const meshfile::Position& p) { return json{p.x, p.y, p.z}; };
        emit("face", {{"index", i},
                      {"material", f.material},
                      {"vertices", {f.a, f.b, f.c}},
                      {"tvertices", {f.ta, f.tb, f.tc}},
                      {"normal", n(f.faceNormal)},
                      {"cornerNormals", {n(f.normalA), n(f.normalB), n(f.normalC)}}});
    }
    void bounds(const meshfile::Bounds& b) override { emit("bounds", boundsJson(b)); }

  private:
    void emit(const char* kind, json j) {
        j["record"] = kind;
        std::fprintf(out_, "%s%s", first_ ? "\n" : ",\n", jsonText(j).c_str());
        first_ = false;
    }
    std::FILE* out_;
    bool first_ = true;
};

}  // namespace

const char* layoutWord(meshfile::Layout layout) {
    return layout == meshfile::Layout::kWithMaterials ? "with" : "without";
}

std::string num(float v) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

std::string nums(std::initializer_list<float> values) {
    std::string out;
    for (const float v : values) {
        if (!out.empty()) out += ' ';
        out += num(v);
    }
    return out;
}

// why the file cannot be opened, in the inspector's words
InputFile::InputFile(const std::string& path) try : Opened(path) {
} catch (const Opened::OpenError& e) {
    throw InputError(e.notRegular() ? std::string(e.what())
                                    : std::string("cannot open: ") + e.what());
}

void InputFile::requireUnchanged() const {
    if (!unchanged()) throw InputError("the file changed while it was read");
}

void printSummary(std::FILE* out, const std::string& path, std::uint64_t size,
                  const meshfile::Sections& sections, const Checker& checker, bool colour) {
    auto paint = [&](const char* code, const std::string& text) {
        return colour ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
    };
    std::fprintf(out, "%s: %s, %s\n", output::escaped(path).c_str(),
                 output::counted(size, "byte", "bytes").c_str(),
                 meshfile::layoutName(sections.layout));
    auto count = [](std::int32_t n, const char* one, const char* many) {
        return output::counted(static_cast<std::uint64_t>(n), one, many);
    };
    std::fprintf(out, "%-10s %s, %s, %s, %s\n", "counts",
                 count(sections.numVertex, "vertex", "vertices").c_str(),
                 count(sections.numTVertex, "texture vertex", "texture vertices").c_str(),
                 count(sections.numFaces, "face", "faces").c_str(),
                 count(sections.materialEntries, "material entry", "material entries").c_str());
    for (std::size_t i = 0; i < checker.materials().size(); ++i) {
        const auto& m = checker.materials()[i];
        std::fprintf(out, "%-10s %-4zu ambient  %s\n", "material", i,
                     nums({m.ambient[0], m.ambient[1], m.ambient[2]}).c_str());
        std::fprintf(out, "%-15s diffuse  %s\n%-15s specular %s\n", "",
                     nums({m.diffuse[0], m.diffuse[1], m.diffuse[2]}).c_str(), "",
                     nums({m.specular[0], m.specular[1], m.specular[2]}).c_str());
        std::fprintf(out, "%-15s shine    %s   tiling %s   offset %s\n", "", num(m.shine).c_str(),
                     nums({m.uTiling, m.vTiling}).c_str(), nums({m.uOffset, m.vOffset}).c_str());
        std::fprintf(out, "%-15s flags    reflect/refract %d, bitmap %d %s\n", "", m.reflectRefract,
                     m.hasBitmap, quoted(m.name).c_str());
    }
    const auto& b = checker.storedBounds();
    std::fprintf(out, "%-10s radius %s   x %s   y %s   z %s\n", "bounds", num(b.radius).c_str(),
                 nums({b.minX, b.maxX}).c_str(), nums({b.minY, b.maxY}).c_str(),
                 nums({b.minZ, b.maxZ}).c_str());
    std::fprintf(out, "checks\n");
    for (const auto& c : checker.results()) {
        const char* colourCode = c.outcome == Outcome::kPassed    ? "32"
                                 : c.outcome == Outcome::kWarning ? "33"
                                                                  : "1;31";
        std::string detail = c.first;
        if (c.offenders) {
            detail = output::counted(c.offenders, "record", "records") + ", first: " + c.first;
        }
        std::fprintf(out, "  %s  %-26s %s\n", paint(colourCode, outcomeName(c.outcome)).c_str(),
                     c.name.c_str(), detail.c_str());
    }
}

void printSummaryJson(std::FILE* out, const std::string& path, std::uint64_t size,
                      const meshfile::Sections& sections, const Checker& checker) {
    json j = {{"file", path},
              {"size", size},
              {"layout", layoutWord(sections.layout)},
              {"materials", json::array()},
              {"counts",
               {{"materials", sections.materialEntries},
                {"vertices", sections.numVertex},
                {"textureVertices", sections.numTVertex},
                {"faces", sections.numFaces}}},
              {"bounds", boundsJson(checker.storedBounds())},
              {"checks", json::array()}};
    for (const auto& c : checker.results()) {
        j["checks"].push_back({{"name", c.name},
                               {"outcome", outcomeName(c.outcome)},
                               {"offenders", c.offenders},
                               {"first", c.first}});
    }
    // The material entries, which may be many, are written one a line into the document's
    // empty array, never built as one tree: memory stays that of one entry.
    const std::string text = jsonText(j, 2);
    constexpr std::string_view kEmpty = "\"materials\": []";
    const std::size_t at = text.find(kEmpty);
    std::fprintf(out, "%.*s\"materials\": [", static_cast<int>(at), text.data());
    for (std::size_t i = 0; i < checker.materials().size(); ++i) {
        std::fprintf(out, "%s\n    %s", i == 0 ? "" : ",",
                     jsonText(materialJson(i, checker.materials()[i])).c_str());
    }
    std::fprintf(out, "%s]%s\n", checker.materials().empty() ? "" : "\n  ",
                 text.c_str() + at + kEmpty.size());
}

void dumpText(std::FILE* out, const meshfile::ByteSource& source,
              const meshfile::Sections& sections) {
    std::fprintf(out, "layout %s\n", layoutWord(sections.layout));
    TextDump dump(out);
    meshfile::visitMeshFile(source, sections, dump);
}

void dumpJson(std::FILE* out, const std::string& path, const meshfile::ByteSource& source,
              const meshfile::Sections& sections) {
    std::fprintf(out, "{\"file\":%s,\"layout\":\"%s\",\"records\":[", jsonText(path).c_str(),
                 layoutWord(sections.layout));
    JsonDump dump(out);
    meshfile::visitMeshFile(source, sections, dump);
    std::fprintf(out, "\n]}\n");
}

std::string failedChecks(const std::vector<Check>& checks) {
    std::string names;
    for (const auto& c : checks) {
        if (c.outcome != Outcome::kFailed) continue;
        if (!names.empty()) names += ", ";
        names += c.name;
    }
    return names;
}

std::optional<PictureSize> parseSize(std::string_view text) {
    PictureSize size;
    const char* p = text.data();
    const char* end = p + text.size();
    auto side = [&](int& value) {
        if (p == end || *p < '0' || *p > '9') return false;
        const auto result = std::from_chars(p, end, value);
        p = result.ptr;
        return result.ec == std::errc() && value >= kMinSide && value <= kMaxSide;
    };
    if (!side(size.width) || p == end || *p++ != 'x' || !side(size.height) || p != end) {
        return std::nullopt;
    }
    return size;
}

}  // namespace tessloom::inspect
