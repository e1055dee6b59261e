// Listing a scene's meshes, as the converter would find them.
#include "inspect/scene.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "inspect/findings.h"
#include "inspect/report.h"
#include "output/output.h"

namespace tessloom::inspect {

namespace {

using nlohmann::json;

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, Closer> openScene(const std::string& path) {
    // O_NONBLOCK: a FIFO is refused below instead of waited on
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw InputError(std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw InputError("not a regular file");
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        throw InputError(std::string("cannot open: ") + std::strerror(errno));
    }
    return std::unique_ptr<std::FILE, Closer>(file);
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

SceneMeshes readSceneMeshes(const std::string& path) {
    const auto file = openScene(path);
    try {
        return findMeshes(file.get());
    } catch (const Rejected& e) {
        throw InputError(e.what());
    }
}

void printSceneListing(std::FILE* out, const std::string& path, const SceneMeshes& scene) {
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
        std::string name = mesh.name ? output::escaped(*mesh.name, output::Escape::kQuoted) : "-";
        if (mesh.nameCut)
            name += " (cut: only its first " + std::to_string(SceneMeshes::kMaxName) +
                    " bytes are kept)";
        std::fprintf(out, "  %5zu %8llu %9s %9s %8s  %s\n", n,
                     static_cast<unsigned long long>(mesh.line), counted(mesh.numVertex).c_str(),
                     counted(mesh.numFaces).c_str(), counted(mesh.materialRef).c_str(),
                     name.c_str());
    }
}

namespace {

json sceneListingJson(const std::string& path, const SceneMeshes& scene) {
    json list = json::array();
    for (std::size_t n = 0; n < scene.count(); ++n) {
        const GeomBlock mesh = scene.mesh(n);
        list.push_back({{"index", n},
                        {"name", mesh.name ? json(*mesh.name) : json(nullptr)},
                        {"nameCut", mesh.nameCut},
                        {"line", mesh.line},
                        {"begin", mesh.begin},
                        {"end", mesh.end},
                        {"closed", mesh.closed},
                        {"vertices", countJson(mesh.numVertex)},
                        {"faces", countJson(mesh.numFaces)},
                        {"textureVertices", countJson(mesh.numTVertex)},
                        {"textureFaces", countJson(mesh.numTVFaces)},
                        {"materialRef", countJson(mesh.materialRef)}});
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

void printSceneListingJson(std::FILE* out, const std::string& path, const SceneMeshes& scene) {
    std::fprintf(out, "%s\n", dumped(sceneListingJson(path, scene)).c_str());
}

int inspectScene(std::FILE* out, const std::string& path, bool asJson) {
    const auto file = openScene(path);
    SceneFindings found;
    try {
        found = findScene(file.get());
    } catch (const Rejected& e) {
        throw InputError(e.what());
    }
    if (asJson) {
        json j = sceneListingJson(path, found.meshes);
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
        printSceneListing(out, path, found.meshes);
        for (const Finding& f : found.findings) {
            std::fprintf(out, "%s\n", findingLine(path, f).c_str());
        }
        std::fprintf(out, "%s\n", summaryLine(found).c_str());
    }
    return found.findings.empty() ? 0 : 1;
}

}  // namespace tessloom::inspect
