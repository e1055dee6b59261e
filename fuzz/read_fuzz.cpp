// libFuzzer target: the mesh file reader on arbitrary bytes. Whatever layout fits is read
// whole and encoded again, which must give the input back byte for byte.
#include <cstdint>
#include <span>
#include <vector>

#include "meshfile/encode.h"
#include "meshfile/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessloom::meshfile;
    const SpanSource source(std::span<const std::uint8_t>(data, size));
    const LayoutGuess guess = inferLayout(source);
    for (const auto& sections : {guess.withMaterials, guess.withoutMaterials}) {
        if (!sections) continue;
        const std::vector<std::uint8_t> again =
            encodeMeshFile(readMeshFile(source, sections->layout));
        if (again != std::vector<std::uint8_t>(data, data + size)) __builtin_trap();
    }
    return 0;
}
