// Prints what a tessloom mesh file holds: one call loads it, whichever layout it has.
#include <tessloom/meshfile/reader.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mesh_info <meshfile>\n");
        return 2;
    }
    try {
        const tessloom::meshfile::MeshFile mesh = tessloom::meshfile::load(argv[1]);
        std::printf("material entries: %zu\nvertices: %zu\ntexture vertices: %zu\nfaces: %zu\n",
                    mesh.materials.size(), mesh.vertices.size(), mesh.texVertices.size(),
                    mesh.faces.size());
        for (const tessloom::meshfile::MaterialEntry& m : mesh.materials) {
            if (m.hasBitmap) std::printf("bitmap: %s\n", m.name.c_str());
        }
        return 0;
    } catch (const tessloom::meshfile::ReadError& e) {
        // e.what() begins "at byte N: expected ..."; e.offset() is N
        std::fprintf(stderr, "mesh_info: %s: %s\n", argv[1], e.what());
        return 1;
    }
}
