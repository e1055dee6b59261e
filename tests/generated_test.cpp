// Generated scenes of about 20k faces against the mesh files computed by their generator.
#include <gtest/gtest.h>

#include "bench/scenegen.h"
#include "driver/encode_scene.h"
#include "testutil.h"

namespace tessloom {
namespace {

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
            std::fflush(expected);  // read back through its name in /proc, from its start
            EXPECT_TRUE(test::readFile("/proc/self/fd/" + std::to_string(::fileno(expected))) ==
                        std::string(bytes.begin(), bytes.end()))
                << "crlf " << crlf << " subs " << subs;
            std::fclose(scene);
            std::fclose(expected);
        }
    }
}

}  // namespace
}  // namespace tessloom
