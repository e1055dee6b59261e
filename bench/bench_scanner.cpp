// Micro-benchmarks of the scanner's pieces, in bytes per second, to show where time goes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "ase/meshes.h"
#include "ase/scanner.h"
#include "ase/scene.h"
#include "bench/scenegen.h"

namespace {

using tessloom::Scanner;

// A temporary file holding `text`, closed on destruction.
struct TempFile {
    explicit TempFile(const std::string& text) : file(std::tmpfile()) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    }
    ~TempFile() { std::fclose(file); }
    std::FILE* file;
};

std::string repeat(const std::string& unit, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += unit;
    return text;
}

std::FILE* gridScene(long faces) {
    std::FILE* f = std::tmpfile();
    tessloom::bench::generateScene({faces, false, 0}, f, nullptr);
    std::fflush(f);
    return f;
}

// The count pass's loop: the first token of each line, then the rest of the line skipped.
void TokenLoopWithLineSkipping(benchmark::State& state) {
    std::FILE* f = gridScene(20000);
    const long size = std::ftell(f);
    Scanner in(f, tessloom::kDefaultBlockSize);
    for (auto _ : state) {
        in.rewind();
        std::string_view token;
        std::size_t tokens = 0;
        while (in.nextToken(token)) {
            ++tokens;
            in.skipLine();
        }
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(state.iterations() * size);
    std::fclose(f);
}
BENCHMARK(TokenLoopWithLineSkipping);

void ReadInt(benchmark::State& state) {
    const std::string text = repeat("  1234 56 -789\t", 1 << 20);
    TempFile f(text);
    Scanner in(f.file, tessloom::kDefaultBlockSize);
    for (auto _ : state) {
        in.rewind();
        std::int32_t v = 0;
        while (in.readInt(v)) benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}
BENCHMARK(ReadInt);

void ReadFloat(benchmark::State& state) {
    const std::string text = repeat("\t-12.3456\t0.5882\t1024.0000", 1 << 20);
    TempFile f(text);
    Scanner in(f.file, tessloom::kDefaultBlockSize);
    for (auto _ : state) {
        in.rewind();
        float v = 0;
        while (in.readFloat(v)) benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}
BENCHMARK(ReadFloat);

// Face lines as exporters write them, through the geometry pass (with its count pass).
void FaceLines(benchmark::State& state) {
    std::string text = "*MESH_NUMFACES 20000\n";
    for (int f = 0; f < 20000; ++f) {
        text += "\t\t\t*MESH_FACE " + std::to_string(f) +
                ":    A:  1200 B:  1201 C:  1402 AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING 1 "
                "\t*MESH_MTLID 3\n";
    }
    TempFile f(text);
    for (auto _ : state) {
        std::rewind(f.file);
        tessloom::MeshConverter mesh(f.file, "unused.obj");
        benchmark::DoNotOptimize(mesh.faces.data());
    }
    state.SetBytesProcessed(state.iterations() * 2 * static_cast<long>(text.size()));
}
BENCHMARK(FaceLines);

// The search for a scene's meshes over two scenes: mesh blocks as exporters write them
// (Arg 0), and after two blocks one long line of empty strings, where each string's end
// brings the search back to the plain state (Arg 1): its cost must stay linear there too.
void FindMeshes(benchmark::State& state) {
    std::string text = "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH {\n}\n}\n";
    text += text;
    if (state.range(0) == 0) {
        for (int m = 0; m < 200; ++m) {
            text += "*GEOMOBJECT {\n\t*NODE_NAME \"part" + std::to_string(m) + "\"\n\t*MESH {\n";
            for (int v = 0; v < 500; ++v) {
                text += "\t\t*MESH_VERTEX " + std::to_string(v) + "\t1.0000\t-2.5000\t3.2500\n";
            }
            text += "\t}\n}\n";
        }
    } else {
        text += std::string(std::size_t{1} << 20, '"') + "\n";
    }
    TempFile f(text);
    for (auto _ : state) benchmark::DoNotOptimize(tessloom::findMeshes(f.file));
    state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}
BENCHMARK(FindMeshes)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
