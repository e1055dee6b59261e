// Puts the mesh file in place through the output module: never a partial file where the
// output was, never the input itself.
#include <algorithm>
#include <cassert>
#include <functional>
#include <memory>
#include <string>

#include "ase/scene.h"
#include "driver/converter.h"
#include "encode_scene.h"
#include "output/output.h"

namespace tessloom {

namespace {

void writeToOutput(void* context, const std::uint8_t* data, std::size_t size) {
    static_cast<output::Output*>(context)->write(data, size);
}

}  // namespace

std::unique_ptr<output::Output> pendingOutput(const std::string& path,
                                              std::span<const output::FileId> keep,
                                              std::uint64_t size,
                                              const std::function<void(OutBuffer&)>& encode,
                                              output::Output::Accept accept) {
    try {
        auto out = std::make_unique<output::Output>(path, keep, accept);
        // no bigger than the file: a small mesh touches a few pages, not a megabyte
        OutBuffer buffer(
            writeToOutput, out.get(),
            static_cast<std::size_t>(std::min<std::uint64_t>(size, OutBuffer::kMaxCapacity)));
        encode(buffer);
        assert(buffer.written() == size);
        out->finish();
        return out;
    } catch (const output::OutputError& e) {
        throw Rejected(e.what());
    }
}

std::unique_ptr<output::Output> pendingMeshFile(const MeshConverter& mesh, const std::string& path,
                                                std::span<const output::FileId> keep,
                                                output::Output::Accept accept) {
    return pendingOutput(
        path, keep, meshFileSize(mesh),
        [&mesh](OutBuffer& buffer) { encodeMeshFile(mesh, buffer); }, accept);
}

// The one writer of a converter's file: the run's conversions write through it too.
void MeshConverter::writeMeshFile() const {
    const auto out = pendingMeshFile(*this, outputPath, inputIdentity(inputStamp_.get()));
    try {
        out->commit();
    } catch (const output::OutputError& e) {
        throw Rejected(e.what());
    }
}

}  // namespace tessloom
