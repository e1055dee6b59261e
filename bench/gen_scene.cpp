// gen_scene: writes a synthetic ASE scene and, on request, the mesh file it converts to.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "bench/scenegen.h"

int main(int argc, char** argv) {
    tessloom::bench::SceneOptions options;
    const char* scenePath = nullptr;
    const char* expectedPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--faces" && i + 1 < argc) {
            options.faces = std::atoll(argv[++i]);
        } else if (arg == "--crlf") {
            options.crlf = true;
        } else if (arg == "--sub-materials" && i + 1 < argc) {
            options.subMaterials = std::atoi(argv[++i]);
        } else if (arg == "--no-normals") {
            options.normals = false;
        } else if (arg == "--expected" && i + 1 < argc) {
            expectedPath = argv[++i];
        } else if (!scenePath && arg[0] != '-') {
            scenePath = argv[i];
        } else {
            scenePath = nullptr;
            break;
        }
    }
    if (!scenePath) {
        std::fputs(
            "usage: gen_scene <scene.ase> [--faces N] [--crlf] [--sub-materials N] [--no-normals] "
            "[--expected mesh.obj]\n",
            stderr);
        return 2;
    }
    std::FILE* scene = std::fopen(scenePath, "wb");
    std::FILE* expected = expectedPath ? std::fopen(expectedPath, "wb") : nullptr;
    if (!scene || (expectedPath && !expected)) {
        std::perror("gen_scene");
        return 1;
    }
    try {
        tessloom::bench::generateScene(options, scene, expected);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gen_scene: %s\n", e.what());
        return 1;
    }
    const bool closed = std::fclose(scene) == 0 && (!expected || std::fclose(expected) == 0);
    return closed ? 0 : 1;
}
