// Listing a scene's meshes, as the converter would find them.
#include "inspect/scene.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "driver/converter.h"
#include "inspect/findings.h"
#include "inspect/report.h"
#include "output/output.h"

namespace tessloom::inspect {

namespace {

using nlohmann::json;

// The converter's opener; its reasons name no file, as the inspector's other messages.
tessloom::InputFile openScene(const std::string& path) {
    try {
        return openInput(path, "");
    } catch (const Rejected& e) {
        throw InputError(e.what());
    }
}

std::string counted(const std::optional<std::int32_t>& value) {
    return value ? std::to_string(*value) : "-";
}

json countJson(const std::optional<std::int32_t>& value) {
    return value ? json(*value) : json(nullptr);
}

std::string meshes(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " mesh" : " meshes");
}

}  // namespace

bool looksLikeScene(const std::string& path) {
    try {
        const auto file = openScene(path);
        int c = 0;
        while ((c = std::fgetc(file.get())) != EOF && Scanner::isWhite(static_cast<char>(c))) {
        }
        if (c != '*') return false;
        for (int i = 0; i < 3 && (c = std::fgetc(file.get())) != EOF; ++i) {
            if (c < '\t' || c > '~' || (c > '\r' && c < ' ')) return false;
        }
        return true;
    } catch (const InputError&) {
        // unreadable: its name says what it was meant to be, and so how its failure is told
        // (a scene that cannot be read exits as with --scene)
        const std::size_t dot = path.rfind('.');
        if (dot == std::string::npos) return false;
        std::string ext = path.substr(dot);
        for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return ext == ".ase";
    }
}

namespace {

void printSceneListing(std::FILE* out, const std::string& path, const SceneFindings& found) {
    const SceneMeshes& scene = found.meshes;
    const std::size_t last = scene.count() - 1;
    std::string text = output::escaped(path) + ": ASE scene, " +
                       output::counted(scene.textSize, "byte", "bytes") + ", " +
                       meshes(scene.count());
    if (scene.count() > 1) {
        text += "; a plain conversion keeps the last, mesh " + std::to_string(last) +
                " (tessloom --each or --merge keep them all)";
    }
    std::fprintf(out, "%s\n", text.c_str());
    std::fprintf(out, "  %5s %8s %9s %9s %8s  %s\n", "mesh", "line", "vertices", "faces",
                 "material", "name");
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const GeomBlock mesh = scene.mesh(n);
        const Declared& declared = found.declared[n];
        std::string name = mesh.name ? output::escaped(*mesh.name, output::Escape::kQuoted) : "-";
        if (mesh.nameCut)
            name += " (cut: only its first " + std::to_string(SceneMeshes::kMaxName) +
                    " bytes are kept)";
        std::fprintf(out, "  %5zu %8llu %9s %9s %8s  %s\n", n,
                     static_cast<unsigned long long>(declared.line),
                     counted(declared.numVertex).c_str(), counted(declared.numFaces).c_str(),
                     counted(declared.materialRef).c_str(), name.c_str());
    }
}

json sceneListingJson(const std::string& path, const SceneFindings& found) {
    const SceneMeshes& scene = found.meshes;
    json list = json::array();
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const GeomBlock mesh = scene.mesh(n);
        const Declared& declared = found.declared[n];
        list.push_back({{"index", n},
                        {"name", mesh.name ? json(*mesh.name) : json(nullptr)},
                        {"nameCut", mesh.nameCut},
                        {"line", declared.line},
                        {"begin", mesh.begin},
                        {"end", mesh.end},
                        {"closed", mesh.closed},
                        {"vertices", countJson(declared.numVertex)},
                        {"faces", countJson(declared.numFaces)},
                        {"textureVertices", countJson(declared.numTVertex)},
                        {"textureFaces", countJson(declared.numTVFaces)},
                        {"materialRef", countJson(declared.materialRef)}});
    }
    return {{"file", path},
            {"kind", "scene"},
            {"bytes", scene.textSize},
            {"meshes", list},
            {"plainConversionKeeps", scene.count() - 1}};
}

std::string dumped(const json& j) {
    return j.dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace

int inspectScene(std::FILE* out, const std::string& path, bool asJson) {
    const auto file = openScene(path);
    SceneFindings found;
    try {
        found = findScene(file.get());
    } catch (const Rejected& e) {
        throw InputError(e.what());
    }
    if (asJson) {
        json j = sceneListingJson(path, found);
        json list = json::array();
        for (const Finding& f : found.findings) {
            list.push_back({{"line", f.line},
                            {"severity", f.severity == Severity::kError ? "error" : "warning"},
                            {"id", f.id},
                            {"message", f.message},
                            {"mesh", f.mesh ? json(*f.mesh) : json(nullptr)}});
        }
        j["findings"] = list;
        j["errors"] = found.errors;
        j["warnings"] = found.warnings;
        std::fprintf(out, "%s\n", dumped(j).c_str());
    } else {
        printSceneListing(out, path, found);
        for (const Finding& f : found.findings) {
            std::fprintf(out, "%s\n", findingLine(path, f).c_str());
        }
        std::fprintf(out, "%s\n", summaryLine(found).c_str());
    }
    return found.findings.empty() ? 0 : 1;
}

}  // namespace tessloom::inspect
