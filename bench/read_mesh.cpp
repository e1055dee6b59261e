// read_mesh: the time the mesh file reader takes to load a file whole, in seconds, for each
// of --rounds loads (default 1), one line each; the Python module's benchmark compares it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "meshfile/reader.h"

int main(int argc, char** argv) {
    int rounds = 1;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            path = argv[i];
        }
    }
    if (!path || rounds < 1) {
        std::fprintf(stderr, "usage: read_mesh [--rounds N] <meshfile>\n");
        return 2;
    }
    try {
        for (int r = 0; r < rounds; ++r) {
            const auto start = std::chrono::steady_clock::now();
            const tessloom::meshfile::MeshFile mesh = tessloom::meshfile::load(path);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            // the records are freed after the clock stops, as the Python side keeps them
            std::printf("%.6f %zu\n", seconds, mesh.faces.size());
        }
    } catch (const tessloom::meshfile::ReadError& e) {
        std::fprintf(stderr, "read_mesh: %s: %s\n", path, e.what());
        return 1;
    }
    return 0;
}
