// MeshConverter construction: names the output and runs the passes in their fixed order.
#include "driver/converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"
#include "meshfile/output.h"

namespace tessloom {

bool InputStamp::operator==(const InputStamp& o) const {
    return known == o.known && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
}

InputStamp stampOf(std::FILE* file) {
    InputStamp stamp;
    struct stat st {};
    const int fd = ::fileno(file);
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        stamp = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    return stamp;
}

namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

InputFile openInput(const std::string& inputPath) {
    // Without O_NONBLOCK a FIFO that nobody writes to would hold the open forever; it is
    // rejected below with every other file that is not a regular one.
    const int fd = ::open(inputPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Rejected(errnoText("cannot open the input"));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Rejected("the input is not a regular file");
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        throw Rejected(errnoText("cannot open the input"));
    }
    return InputFile(file);
}

MeshConverter::MeshConverter(const std::string& inputPath,
                             const std::optional<std::string>& requestedOutput) {
    ownedInput_.reset(openInput(inputPath).release());
    outputPath = requestedOutput ? *requestedOutput : defaultOutputPath(inputPath);
    run(ownedInput_.get(), kDefaultBlockSize, {}, std::nullopt);
}

MeshConverter::MeshConverter(std::FILE* inputFile, std::string output, std::size_t blockSize,
                             const PassHook& afterPass,
                             std::optional<std::vector<ByteRange>> ranges,
                             Diagnostics* diagnostics)
    : outputPath(std::move(output)) {
    if (diagnostics) watch_ = std::make_unique<Watch>(*diagnostics);
    run(inputFile, blockSize, afterPass, std::move(ranges));
}

void MeshConverter::run(std::FILE* inputFile, std::size_t blockSize, const PassHook& afterPass,
                        std::optional<std::vector<ByteRange>> ranges) {
    const InputStamp before = stampOf(inputFile);
    if (before.known) {
        inputIdentity_.emplace(static_cast<std::uint64_t>(before.device),
                               static_cast<std::uint64_t>(before.inode));
    }
    input = ranges ? std::make_unique<Scanner>(inputFile, blockSize, std::move(*ranges))
                   : std::make_unique<Scanner>(inputFile, blockSize);
    // Every pass must read the same bytes of the same, unchanged file (a pass that stops
    // early, as the material pass may, has only the file's stamp to compare).
    std::uint64_t passBytes = 0;
    auto endPass = [&](bool wholeInput) {
        if (afterPass) afterPass();
        if ((wholeInput && input->bytesRead() != passBytes) || !(stampOf(inputFile) == before)) {
            throw Rejected("the input changed while it was read");
        }
    };
    readCounts();
    objectMarks_ = input->objectMarks();
    passBytes = input->bytesRead();
    endPass(true);
    allocateTables();
    if (materialCount > 0) {
        readMaterials();
        endPass(false);
    }
    readGeometry();
    endPass(true);
    if (materialCount > 0) applyTiling();
    input.reset();
    ownedInput_.reset();
    computeBounds();
}

int reportFailure(const std::string& inputPath, const std::function<void()>& run) {
    std::string reason;
    try {
        run();
        return 0;
    } catch (const std::bad_alloc&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::length_error&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    const std::string line =
        "tessloom: " + output::escaped(inputPath) + ": " + output::escaped(reason) + "\n";
    std::fputs(line.c_str(), stderr);
    return 1;
}

int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath) {
    std::optional<SceneMeshes> scene;
    const int status = reportFailure(inputPath, [&] {
        const InputFile input = openInput(inputPath);
        MeshConverter converter(input.get(),
                                outputPath ? *outputPath : defaultOutputPath(inputPath));
        // the exact search only where the count pass saw the mark twice or more
        if (converter.objectMarks() >= 2) scene = findMeshes(input.get());
        converter.writeMeshFile();
    });
    if (status == 0 && scene && scene->count() >= 2) {
        std::fputs(severalMeshesWarning(inputPath, *scene).c_str(), stderr);
    }
    return status;
}

}  // namespace tessloom
