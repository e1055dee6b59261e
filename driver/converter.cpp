// MeshConverter construction: names the output and runs the passes in their fixed order.
#include "driver/converter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "ase/scanner.h"
#include "ase/scene.h"

namespace tessloom {

MeshConverter::MeshConverter(const std::string& inputPath,
                             const std::optional<std::string>& requestedOutput) {
    std::FILE* file = std::fopen(inputPath.c_str(), "rb");
    if (!file) throw Rejected(std::string("cannot open the input: ") + std::strerror(errno));
    ownedInput_.reset(file);
    outputPath = requestedOutput ? *requestedOutput : defaultOutputPath(inputPath);
    run(file, kDefaultBlockSize);
}

MeshConverter::MeshConverter(std::FILE* inputFile, std::string output, std::size_t blockSize)
    : outputPath(std::move(output)) {
    run(inputFile, blockSize);
}

void MeshConverter::run(std::FILE* inputFile, std::size_t blockSize) {
    struct stat st {};
    const int fd = ::fileno(inputFile);
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        inputIdentity_.emplace(static_cast<std::uint64_t>(st.st_dev),
                               static_cast<std::uint64_t>(st.st_ino));
    }
    input = std::make_unique<Scanner>(inputFile, blockSize);
    readCounts();
    allocateTables();
    if (materialCount > 0) readMaterials();
    readGeometry();
    if (materialCount > 0) applyTiling();
    input.reset();
    ownedInput_.reset();
    computeBounds();
}

int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath) {
    const char* reason = nullptr;
    std::string detail;
    try {
        MeshConverter converter(inputPath, outputPath);
        converter.writeMeshFile();
        return 0;
    } catch (const Rejected& e) {
        detail = e.what();
    } catch (const std::bad_alloc&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::length_error&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::exception& e) {
        detail = e.what();
    }
    std::fprintf(stderr, "tessloom: %s: %s\n", inputPath.c_str(), reason ? reason : detail.c_str());
    return 1;
}

}  // namespace tessloom
