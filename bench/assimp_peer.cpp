// Imports a scene with the general 3D import library, the way a pipeline would instead.
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: assimp_peer <scene>\n", stderr);
        return 2;
    }
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(argv[1], 0);
    if (!scene) {
        std::fprintf(stderr, "assimp_peer: %s\n", importer.GetErrorString());
        return 1;
    }
    return scene->mNumMeshes > 0 ? 0 : 1;
}
