// MeshConverter construction: names the output and runs the passes in their fixed order.
#include "driver/converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "ase/scanner.h"
#include "ase/scene.h"
#include "ase/watch.h"

namespace tessloom {

namespace {

// What fstat says of the input. The passes read the file anew each time, so a writer at
// work on it would give each pass other bytes: any change between passes rejects the run.
struct InputStamp {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const InputStamp& o) const {
        return known == o.known && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

InputStamp stampOf(std::FILE* file) {
    InputStamp stamp;
    struct stat st {};
    const int fd = ::fileno(file);
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        stamp = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    return stamp;
}

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

MeshConverter::MeshConverter(const std::string& inputPath,
                             const std::optional<std::string>& requestedOutput) {
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
    ownedInput_.reset(file);
    outputPath = requestedOutput ? *requestedOutput : defaultOutputPath(inputPath);
    run(file, kDefaultBlockSize, {});
}

MeshConverter::MeshConverter(std::FILE* inputFile, std::string output, std::size_t blockSize,
                             const PassHook& afterPass, Diagnostics* diagnostics)
    : outputPath(std::move(output)) {
    if (diagnostics) watch_ = std::make_unique<Watch>(*diagnostics);
    run(inputFile, blockSize, afterPass);
}

void MeshConverter::run(std::FILE* inputFile, std::size_t blockSize, const PassHook& afterPass) {
    const InputStamp before = stampOf(inputFile);
    if (before.known) {
        inputIdentity_.emplace(static_cast<std::uint64_t>(before.device),
                               static_cast<std::uint64_t>(before.inode));
    }
    input = std::make_unique<Scanner>(inputFile, blockSize);
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

namespace {

// The text as one line: control bytes become escapes, so a crafted file name can neither
// break the line nor forge another. Other bytes pass unchanged, UTF-8 names stay readable.
std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

}  // namespace

int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath) {
    std::string reason;
    try {
        MeshConverter converter(inputPath, outputPath);
        converter.writeMeshFile();
        return 0;
    } catch (const std::bad_alloc&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::length_error&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    const std::string line = "tessloom: " + printable(inputPath) + ": " + printable(reason) + "\n";
    std::fputs(line.c_str(), stderr);
    return 1;
}

}  // namespace tessloom
