// Converts an ASE scene into a tessloom mesh file inside the program: from its path, or
// from scene text read from standard input ("-") and converted in memory. Prints what the
// mesh holds, the conversion's warnings and the scene's findings, then writes the file.
#include <tessloom/convert.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: convert_scene <scene.ase|-> <output.obj>\n");
        return 2;
    }
    const std::string scene = argv[1];
    std::vector<std::string> warnings;
    std::vector<tessloom::Finding> findings;
    // normals the scene lacks are computed; warnings and findings are kept, not printed
    tessloom::ConvertOptions options{
        .fixNormals = true, .warnings = &warnings, .findings = &findings, .name = "standard input"};
    try {
        tessloom::MeshFile mesh;
        if (scene == "-") {
            const std::string text(std::istreambuf_iterator<char>(std::cin), {});
            mesh = tessloom::convert(std::as_bytes(std::span(text)), options);
        } else {
            mesh = tessloom::convert(scene, options);
        }
        std::printf("material entries: %zu\nvertices: %zu\ntexture vertices: %zu\nfaces: %zu\n",
                    mesh.materials.size(), mesh.vertices.size(), mesh.texVertices.size(),
                    mesh.faces.size());
        std::printf("warnings: %zu\n", warnings.size());
        for (const std::string& w : warnings) std::printf("  %s\n", w.c_str());
        std::printf("findings: %zu\n", findings.size());
        for (const tessloom::Finding& f : findings) {
            const bool error = f.severity == tessloom::Finding::Severity::kError;
            std::printf("  line %llu: %s: %s [%s]\n", static_cast<unsigned long long>(f.line),
                        error ? "error" : "warning", f.message.c_str(), f.id.c_str());
        }
        tessloom::write(mesh, argv[2]);
        std::printf("written: %s\n", argv[2]);
        return 0;
    } catch (const tessloom::ConvertError& e) {
        // the line the tessloom tool prints: the scene's name, then why
        std::fprintf(stderr, "convert_scene: %s\n", e.what());
        return 1;
    }
}
