// Puts the mesh file in place through the output module: never a partial file where the
// output was, never the input itself.
#include <algorithm>
#include <cassert>
#include <vector>

#include "ase/scene.h"
#include "driver/encode_scene.h"
#include "meshfile/output.h"

namespace tessloom {

namespace {

void writeToOutput(void* context, const std::uint8_t* data, std::size_t size) {
    static_cast<output::Output*>(context)->write(data, size);
}

}  // namespace

void MeshConverter::writeMeshFile() const {
    try {
        std::vector<output::FileId> notThese;
        if (inputIdentity_) notThese.push_back({inputIdentity_->first, inputIdentity_->second});
        output::Output out(outputPath, notThese);
        // no bigger than the file: a small mesh touches a few pages, not a megabyte
        const std::uint64_t size = meshFileSize(*this);
        OutBuffer buffer(
            writeToOutput, &out,
            static_cast<std::size_t>(std::min<std::uint64_t>(size, OutBuffer::kMaxCapacity)));
        encodeMeshFile(*this, buffer);
        assert(buffer.written() == size);
        out.commit();
    } catch (const output::OutputError& e) {
        throw Rejected(e.what());
    }
}

}  // namespace tessloom
