// Generated scenes of about 20k faces against the mesh files computed by their generator.
#include <gtest/gtest.h>

#include "bench/scenegen.h"
#include "driver/encode_scene.h"
#include "testutil.h"

namespace tessloom {
namespace {

std::vector<std::uint8_t> contents(std::FILE* f) {
    std::vector<std::uint8_t> bytes;
    std::rewind(f);
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) != 0;) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

TEST(Generated, ScenesConvertToTheGeneratorsExpectedBytes) {
    for (bool crlf : {false, true}) {
        for (int subs : {0, 3}) {
            std::FILE* scene = std::tmpfile();
            std::FILE* expected = std::tmpfile();
            bench::generateScene({20000, crlf, subs}, scene, expected);
            std::fflush(scene);
            std::rewind(scene);
            MeshConverter mesh(scene, "unused.obj", {.blockSize = 65536});
            const auto bytes = encodeMeshFile(mesh);
            EXPECT_GT(bytes.size(), 20000u * 76);
            EXPECT_TRUE(bytes == contents(expected)) << "crlf " << crlf << " subs " << subs;
            std::fclose(scene);
            std::fclose(expected);
        }
    }
}

}  // namespace
}  // namespace tessloom
