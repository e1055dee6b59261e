// MeshConverter construction: names the output and runs the passes in their fixed order.
#include "driver/converter.h"

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
#include "output/output.h"

namespace tessloom {

namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

InputFile openInput(const std::string& inputPath, std::string_view name) {
    const std::string cannotOpen =
        name.empty() ? "cannot open" : "cannot open " + std::string(name);
    int fd = -1;
    try {
        fd = meshfile::InputFile(inputPath).release();
    } catch (const meshfile::InputFile::OpenError& e) {
        if (e.notRegular()) {
            throw Rejected(name.empty() ? "not a regular file"
                                        : std::string(name) + " is not a regular file");
        }
        throw Rejected(cannotOpen + ": " + e.what());
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        throw Rejected(errnoText(cannotOpen.c_str()));
    }
    return InputFile(file);
}

InputFile openScene(const std::string& path) {
    int fd = -1;
    try {
        fd = meshfile::InputFile(path).release();
    } catch (const meshfile::InputFile::OpenError& e) {
        struct stat st {};
        if (e.notRegular() || (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))) {
            throw Rejected("not a regular file");
        }
        throw Rejected(e.what());
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        throw Rejected(std::strerror(error));
    }
    return InputFile(file);
}

std::vector<output::FileId> inputIdentity(const meshfile::FileStamp* stamp) {
    if (!stamp) return {};
    return {{stamp->device, stamp->inode}};
}

namespace {

void requireUnchanged(std::FILE* input, const meshfile::FileStamp* before) {
    const std::optional<meshfile::FileStamp> now = meshfile::stampOf(::fileno(input));
    if (before ? !now || !(*now == *before) : now.has_value()) {
        throw Rejected("the input changed while it was read");
    }
}

}  // namespace

InputGuard::InputGuard(std::FILE* input, const std::string& progressName) : input_(input) {
    if (const auto stamp = meshfile::stampOf(::fileno(input))) {
        before_ = std::make_shared<const meshfile::FileStamp>(*stamp);
    }
    const std::uint64_t size = before_ ? before_->size : 0;
    if (!progressName.empty() && size > kProgressBytes && ProgressLine::wanted()) {
        // the count and geometry passes read it all, the material pass often most of it
        progress_ =
            std::make_shared<ByteProgress>("tessloom: converting " + progressName, 3 * size);
    }
}

ReadSetup InputGuard::setup(ReadSetup base) const {
    if (progress_) base.blockRead = [progress = progress_](std::uint64_t n) { progress->add(n); };
    base.inputStamp = before_;
    base.passEnded = [input = input_, before = before_, progress = progress_,
                      wholeBytes = std::optional<std::uint64_t>()](std::uint64_t bytesRead,
                                                                   bool wholeInput) mutable {
        // a pass that stops early, as the material pass may, has only the stamp to compare
        if (wholeInput) {
            if (wholeBytes && *wholeBytes != bytesRead) {
                throw Rejected("the input changed while it was read");
            }
            wholeBytes = bytesRead;
        } else if (progress && wholeBytes && *wholeBytes > bytesRead) {
            progress->skip(*wholeBytes - bytesRead);  // what the pass left unread
        }
        requireUnchanged(input, before.get());
    };
    return base;
}

void InputGuard::checkUnchanged() const {
    requireUnchanged(input_, before_.get());
}

MeshConverter::MeshConverter(const std::string& inputPath,
                             const std::optional<std::string>& requestedOutput)
    : outputPath(requestedOutput ? *requestedOutput : defaultOutputPath(inputPath)) {
    // read as the run reads its input; writeMeshFile() then writes as the run does
    const InputFile file = openInput(inputPath);
    const InputGuard guard(file.get());
    readAll(file.get(), guard.setup());
}

MeshConverter::MeshConverter(std::FILE* inputFile, std::string output, ReadSetup setup)
    : outputPath(std::move(output)) {
    readAll(inputFile, std::move(setup));
}

void MeshConverter::readAll(std::FILE* inputFile, ReadSetup setup) {
    repairs_ = setup.repairs;
    inputStamp_ = std::move(setup.inputStamp);
    if (setup.diagnostics) watch_ = std::make_unique<Watch>(*setup.diagnostics);
    if (setup.pieces) {
        input = std::make_unique<Scanner>(inputFile, setup.blockSize, std::move(*setup.pieces));
    } else {
        input = std::make_unique<Scanner>(inputFile, setup.blockSize);
    }
    if (setup.blockRead) input->onBlockRead(std::move(setup.blockRead));
    auto endPass = [&](bool wholeInput) {
        if (setup.passEnded) setup.passEnded(input->bytesRead(), wholeInput);
    };
    readCounts();
    if (setup.countBound) inputBytes_ = *setup.countBound;
    objectMarks_ = input->objectMarks();
    returnsOnly_ = input->returnsWithoutLineFeed();
    endPass(true);
    allocateTables();
    if (materialCount > 0) {
        readMaterials();
        endPass(false);
    }
    readGeometry();
    endPass(true);
    if (repairs_.fixNormals) fixNormals();
    if (materialCount > 0) applyTiling();
    input.reset();
    countZeroNormals();
    computeBounds();
}

std::optional<std::string> failureOf(const std::string& inputPath,
                                     const std::function<void()>& run) {
    std::string reason;
    try {
        run();
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::length_error&) {
        reason = "out of memory for the scene's tables";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    return output::escaped(inputPath) + ": " + output::escaped(reason);
}

int reportFailure(const std::string& inputPath, const std::function<void()>& run) {
    const std::optional<std::string> failure = failureOf(inputPath, run);
    if (!failure) return 0;
    const std::string line = "tessloom: " + *failure + "\n";
    std::fputs(line.c_str(), stderr);
    return 1;
}

std::vector<std::string> lossWarnings(const std::string& inputPath, const Losses& losses) {
    using output::counted;
    std::vector<std::string> lines;
    const std::string head = "tessloom: " + output::escaped(inputPath) + ": ";
    if (!losses.untiledEntries.empty()) {
        lines.push_back(
            head +
            counted(losses.untiledEntries.size(), "material entry gives", "material entries give") +
            " no tiling; " +
            counted(losses.untiledCoordinates, "texture coordinate is", "texture coordinates are") +
            " scaled by 0 (--keep-uv keeps them)\n");
    }
    if (losses.zeroNormalFaces > 0) {
        std::string why;
        if (losses.normalsApart) why = "vertex normals listed apart from their faces";
        if (losses.noNormals) why += std::string(why.empty() ? "" : ", ") + "no normals given";
        if (why.empty()) why = "normals missing or given as zero";
        lines.push_back(head + std::to_string(losses.zeroNormalFaces) + " of " +
                        counted(losses.faces, "face", "faces") +
                        (losses.zeroNormalFaces == 1 ? " has" : " have") + " a zero normal (" +
                        why + "; --fix-normals computes them)\n");
    }
    return lines;
}

void refuseWarnings(const RunOptions& options, const std::vector<std::string>& warnings) {
    if (!options.strict || warnings.empty()) return;
    throw WarningsRefused("--strict: nothing written, " +
                          output::counted(warnings.size(), "warning", "warnings"));
}

void printWarnings(const std::vector<std::string>& warnings) {
    // one write: a reader of standard error is woken once, not once a line
    std::string text;
    for (const std::string& line : warnings) text += line;
    std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string carriageReturnsWarning(const std::string& inputPath) {
    return "tessloom: " + output::escaped(inputPath) +
           ": the scene's lines end in a carriage return without a line feed: it is read as "
           "one line\n";
}

}  // namespace tessloom
