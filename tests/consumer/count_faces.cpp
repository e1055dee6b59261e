// Prints the number of faces in a mesh file, through the installed reader.
#include <cstdio>
#include <tessloom/meshfile/reader.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    try {
        const tessloom::meshfile::FileSource source(argv[1]);
        const auto sections = tessloom::meshfile::inferLayout(source).only();
        if (!sections) return 1;
        std::printf("%d\n", sections->numFaces);
        return 0;
    } catch (const tessloom::meshfile::ReadError& e) {
        std::fprintf(stderr, "count_faces: %s\n", e.what());
        return 1;
    }
}
