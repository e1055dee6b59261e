// tessloom-inspect: shows what a mesh file holds, checks it, and dumps its records.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "inspect/checks.h"
#include "inspect/gltf.h"
#include "inspect/html.h"
#include "inspect/preview.h"
#include "meshfile/reader.h"

namespace {

using namespace tessloom;
using meshfile::Layout;
using nlohmann::json;

// The shortest text that reads back to the same float, bit for bit.
std::string num(float v) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

std::string nums(std::initializer_list<float> values) {
    std::string out;
    for (const float v : values) out += (out.empty() ? "" : " ") + num(v);
    return out;
}

void appendHex(std::string& out, char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 15];
}

// Bitmap names are bytes: shown quoted, control bytes, quotes, backslashes and bytes above
// 127 as escapes, so every name is one line and reads back unambiguously.
std::string quoted(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7f) {
            out += "\\x";
            appendHex(out, c);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// In JSON a name is a string; bytes that are not UTF-8 become U+FFFD there, and the exact
// bytes follow as hex in "nameHex".
json nameJson(const std::string& name, json& owner) {
    try {
        (void)json(name).dump();
    } catch (const json::type_error&) {
        std::string hex;
        for (const char c : name) appendHex(hex, c);
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

std::string dumpJson(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

const char* outcomeName(inspect::Outcome o) {
    return o == inspect::Outcome::kPassed    ? "pass"
           : o == inspect::Outcome::kWarning ? "warn"
                                             : "FAIL";
}

// Every record, one line each, in a form made for diff.
class TextDump : public meshfile::MeshVisitor {
  public:
    void material(std::size_t i, const meshfile::MaterialEntry& m) override {
        std::printf(
            "material %zu ambient %s diffuse %s specular %s shine %s tiling %s offset %s "
            "reflect %d bitmap %d name %s\n",
            i, nums({m.ambient[0], m.ambient[1], m.ambient[2]}).c_str(),
            nums({m.diffuse[0], m.diffuse[1], m.diffuse[2]}).c_str(),
            nums({m.specular[0], m.specular[1], m.specular[2]}).c_str(), num(m.shine).c_str(),
            nums({m.uTiling, m.vTiling}).c_str(), nums({m.uOffset, m.vOffset}).c_str(),
            m.reflectRefract, m.hasBitmap, quoted(m.name).c_str());
    }
    void vertex(std::size_t i, const meshfile::Position& v) override {
        std::printf("vertex %zu %s\n", i, nums({v.x, v.y, v.z}).c_str());
    }
    void texVertex(std::size_t i, const meshfile::TexCoord& t) override {
        std::printf("tvertex %zu %s\n", i, nums({t.u, t.v}).c_str());
    }
    void face(std::size_t i, const meshfile::FaceRecord& f) override {
        auto n = [](const meshfile::Position& p) { return nums({p.x, p.y, p.z}); };
        std::printf(
            "face %zu material %d vertices %d %d %d tvertices %d %d %d normal %s a %s b %s "
            "c %s\n",
            i, f.material, f.a, f.b, f.c, f.ta, f.tb, f.tc, n(f.faceNormal).c_str(),
            n(f.normalA).c_str(), n(f.normalB).c_str(), n(f.normalC).c_str());
    }
    void bounds(const meshfile::Bounds& b) override {
        std::printf("bounds radius %s x %s y %s z %s\n", num(b.radius).c_str(),
                    nums({b.minX, b.maxX}).c_str(), nums({b.minY, b.maxY}).c_str(),
                    nums({b.minZ, b.maxZ}).c_str());
    }
};

// Every record as one JSON object a line, inside one array: valid JSON, flat memory.
class JsonDump : public meshfile::MeshVisitor {
  public:
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
        std::printf("%s%s", first_ ? "\n" : ",\n", dumpJson(j).c_str());
        first_ = false;
    }
    bool first_ = true;
};

struct Options {
    std::string path, layout, png, size = "1600x1200", gltf, html;
    bool dump = false, asJson = false;
};

// The picture and the glTF file, from the whole mesh in memory.
int exportFile(const Options& o, const meshfile::FileSource& source,
               const meshfile::Sections& sections) {
    int width = 0, height = 0, end = 0;
    if (std::sscanf(o.size.c_str(), "%dx%d%n", &width, &height, &end) != 2 ||
        static_cast<std::size_t>(end) != o.size.size() || width < 64 || height < 64 ||
        width > 16384 || height > 16384) {
        std::fprintf(stderr, "tessloom-inspect: --size %s: expected WxH, each 64 to 16384\n",
                     o.size.c_str());
        return 2;
    }
    const meshfile::MeshFile mesh = meshfile::readMeshFile(source, sections.layout);
    try {
        if (!o.png.empty()) {
            const auto drawn = inspect::writePreview(mesh, o.png, width, height);
            std::printf("%s: %dx%d, %zu faces filled, %zu as points, %zu not drawable\n",
                        o.png.c_str(), width, height, drawn.drawn, drawn.points, drawn.skipped);
        }
        if (!o.gltf.empty()) {
            const auto written = inspect::writeGltf(mesh, o.gltf);
            std::printf("%s: %zu vertices, %zu primitives, %s, %s\n", o.gltf.c_str(),
                        written.vertices, written.primitives,
                        written.texCoords ? "texture coordinates" : "no texture coordinates",
                        written.normals ? "normals" : "no normals");
        }
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "tessloom-inspect: %s: %s\n", o.path.c_str(), e.what());
        return 1;
    }
    return 0;
}

// The page that shows the mesh in a browser.
int writeHtml(const Options& o, const meshfile::ByteSource& source,
              const meshfile::Sections& sections) {
#ifdef TESSLOOM_HTML
    const std::string name = o.path.substr(o.path.find_last_of('/') + 1);
    try {
        std::FILE* file = std::fopen(o.html.c_str(), "wb");
        if (!file) throw inspect::PageError("cannot write " + o.html);
        const auto page = inspect::writePage(source, sections, name, [&](std::string_view text) {
            if (std::fwrite(text.data(), 1, text.size(), file) != text.size())
                throw inspect::PageError("cannot write " + o.html);
        });
        if (std::fclose(file) != 0) throw inspect::PageError("cannot write " + o.html);
        std::printf("%s: %llu bytes, %d faces\n", o.html.c_str(),
                    static_cast<unsigned long long>(page.bytes), sections.numFaces);
        return 0;
    } catch (const inspect::PageError& e) {
        std::fprintf(stderr, "tessloom-inspect: %s: %s\n", o.path.c_str(), e.what());
        return 1;
    }
#else
    (void)source, (void)sections;
    std::fprintf(stderr,
                 "tessloom-inspect: --html %s: this build has no HTML page (npm was "
                 "missing when it was configured)\n",
                 o.html.c_str());
    return 2;
#endif
}

int inspectFile(const Options& o) {
    const std::string& path = o.path;
    const std::string& layoutChoice = o.layout;
    const bool dump = o.dump, asJson = o.asJson;
    const bool colour = !asJson && ::isatty(1) && !std::getenv("NO_COLOR");
    auto paint = [&](const char* code, const std::string& text) {
        return colour ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
    };
    try {
        const meshfile::FileSource source(path);
        meshfile::Sections sections;
        if (layoutChoice.empty()) {
            const meshfile::LayoutGuess guess = meshfile::inferLayout(source);
            if (!guess.only()) {
                const bool both = guess.withMaterials.has_value();
                std::fprintf(
                    stderr, "tessloom-inspect: %s: %s\n", path.c_str(),
                    both ? "its size fits both layouts; choose one with --layout"
                         : ("no layout fits: with a material section, " + guess.withMaterialsError +
                            "; without, " + guess.withoutMaterialsError)
                               .c_str());
                return 1;
            }
            sections = *guess.only();
        } else {
            sections = meshfile::locateSections(source, layoutChoice == "with"
                                                            ? Layout::kWithMaterials
                                                            : Layout::kWithoutMaterials);
        }
        if (!o.html.empty()) return writeHtml(o, source, sections);
        if (!o.png.empty() || !o.gltf.empty()) return exportFile(o, source, sections);
        if (dump) {
            if (asJson) {
                std::printf("{\"file\":%s,\"layout\":\"%s\",\"records\":[", dumpJson(path).c_str(),
                            sections.layout == Layout::kWithMaterials ? "with" : "without");
                JsonDump out;
                meshfile::visitMeshFile(source, sections, out);
                std::printf("\n]}\n");
            } else {
                std::printf("layout %s\n",
                            sections.layout == Layout::kWithMaterials ? "with" : "without");
                TextDump out;
                meshfile::visitMeshFile(source, sections, out);
            }
            return 0;
        }

        inspect::Checker checker(sections);
        meshfile::visitMeshFile(source, sections, checker);
        const auto checks = checker.results();
        bool failed = false;
        for (const auto& c : checks) failed |= c.outcome == inspect::Outcome::kFailed;
        const auto& b = checker.storedBounds();
        if (asJson) {
            json j = {{"file", path},
                      {"size", source.size()},
                      {"layout", sections.layout == Layout::kWithMaterials ? "with" : "without"},
                      {"materials", json::array()},
                      {"counts",
                       {{"materials", sections.materialEntries},
                        {"vertices", sections.numVertex},
                        {"textureVertices", sections.numTVertex},
                        {"faces", sections.numFaces}}},
                      {"bounds", boundsJson(b)},
                      {"checks", json::array()}};
            for (std::size_t i = 0; i < checker.materials().size(); ++i)
                j["materials"].push_back(materialJson(i, checker.materials()[i]));
            for (const auto& c : checks) {
                j["checks"].push_back({{"name", c.name},
                                       {"outcome", outcomeName(c.outcome)},
                                       {"offenders", c.offenders},
                                       {"first", c.first}});
            }
            std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
            return failed ? 1 : 0;
        }

        std::printf("%s: %llu bytes, %s\n", path.c_str(),
                    static_cast<unsigned long long>(source.size()),
                    meshfile::layoutName(sections.layout));
        std::printf("%-10s %d vertices, %d texture vertices, %d faces, %d material entries\n",
                    "counts", sections.numVertex, sections.numTVertex, sections.numFaces,
                    sections.materialEntries);
        for (std::size_t i = 0; i < checker.materials().size(); ++i) {
            const auto& m = checker.materials()[i];
            std::printf("%-10s %-4zu ambient  %s\n", "material", i,
                        nums({m.ambient[0], m.ambient[1], m.ambient[2]}).c_str());
            std::printf("%-15s diffuse  %s\n%-15s specular %s\n", "",
                        nums({m.diffuse[0], m.diffuse[1], m.diffuse[2]}).c_str(), "",
                        nums({m.specular[0], m.specular[1], m.specular[2]}).c_str());
            std::printf("%-15s shine    %s   tiling %s   offset %s\n", "", num(m.shine).c_str(),
                        nums({m.uTiling, m.vTiling}).c_str(), nums({m.uOffset, m.vOffset}).c_str());
            std::printf("%-15s flags    reflect/refract %d, bitmap %d %s\n", "", m.reflectRefract,
                        m.hasBitmap, quoted(m.name).c_str());
        }
        std::printf("%-10s radius %s   x %s   y %s   z %s\n", "bounds", num(b.radius).c_str(),
                    nums({b.minX, b.maxX}).c_str(), nums({b.minY, b.maxY}).c_str(),
                    nums({b.minZ, b.maxZ}).c_str());
        std::printf("checks\n");
        for (const auto& c : checks) {
            const char* colourCode = c.outcome == inspect::Outcome::kPassed    ? "32"
                                     : c.outcome == inspect::Outcome::kWarning ? "33"
                                                                               : "1;31";
            std::string detail = c.first;
            if (c.offenders) {
                detail = std::to_string(c.offenders) + (c.offenders == 1 ? " record" : " records") +
                         ", first: " + c.first;
            }
            std::printf("  %s  %-26s %s\n", paint(colourCode, outcomeName(c.outcome)).c_str(),
                        c.name.c_str(), detail.c_str());
        }
        return failed ? 1 : 0;
    } catch (const meshfile::ReadError& e) {
        std::fprintf(stderr, "tessloom-inspect: %s: %s\n", path.c_str(), e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Shows what a tessloom mesh file holds and checks it."};
    app.set_version_flag("--version", "tessloom-inspect " TESSLOOM_VERSION);
    Options o;
    app.add_option("file", o.path, "the mesh file")->required();
    app.add_flag("--dump", o.dump, "every record, one per line, for diff");
    app.add_flag("--json", o.asJson, "the summary, or with --dump every record, as JSON");
    app.add_option("--layout", o.layout, "read as with or without a material section")
        ->check(CLI::IsMember({"with", "without"}));
    app.add_option("--png", o.png, "draw the mesh in four views into a PNG file");
    app.add_option("--size", o.size, "the picture's size, WxH")->capture_default_str();
    app.add_option("--gltf", o.gltf, "export the mesh as a glTF 2.0 binary file (.glb)");
#ifdef TESSLOOM_HTML
    app.add_option("--html", o.html, "write one HTML page that shows the mesh in a browser");
#else
    app.add_option("--html", o.html)->group("");  // not built: taken only to say so
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    std::fflush(stdout);
    return inspectFile(o);
}
