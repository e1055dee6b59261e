// The output module on its own: pending outputs held back and committed together, clean-up
// on failure, and the escaping of text from outside.
#include "output/output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "testutil.h"

namespace {

using namespace tessloom::output;
using tessloom::test::readFile;
using tessloom::test::writeFile;
namespace fs = std::filesystem;

// Nothing is in place before every output is complete; abandoned, each path keeps what it
// held and no temporary file is left. (The clean-up on a termination signal: progress_test.)
TEST(Outputs, SeveralPendingOutputsAreAllOrNothing) {
    const tessloom::test::TempDir temp;
    const fs::path& dir_ = temp.path();
    const auto path = [&](const char* name) { return (dir_ / name).string(); };
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir_), {}); };
    writeFile(dir_ / "a", "old a");
    writeFile(dir_ / "b", "old b");
    {
        Output a(path("a")), b(path("b"));
        a.write("new a", 5);
        b.write("new b", 5);
        a.finish();
        EXPECT_EQ(readFile(dir_ / "a"), "old a");
        EXPECT_EQ(entries(), 4);  // a, b and the two temporary files
    }
    EXPECT_EQ(readFile(dir_ / "a"), "old a");
    EXPECT_EQ(readFile(dir_ / "b"), "old b");
    EXPECT_EQ(entries(), 2);

    // the second output cannot be opened: the first, already written, is abandoned with it
    try {
        Output a(path("a"));
        a.write("new a", 5);
        Output b(path("missing/b"));
        ADD_FAILURE() << "a missing directory was taken";
    } catch (const OutputError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/b: No such file or directory"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readFile(dir_ / "a"), "old a");
    EXPECT_EQ(entries(), 2);

    Output a(path("a")), b(path("b")), c(path("c"));
    for (Output* o : {&a, &b, &c}) o->write("new", 3);
    Output* all[] = {&a, &b, &c};
    commitAll(all);
    for (const char* name : {"a", "b", "c"}) EXPECT_EQ(readFile(dir_ / name), "new") << name;
    EXPECT_EQ(entries(), 3);

    // the input itself is refused, by its identity whatever the path
    fs::create_symlink(dir_ / "a", dir_ / "link");
    struct stat st {};
    ASSERT_EQ(::stat(path("a").c_str(), &st), 0);
    const FileId self[] = {
        {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}};
    EXPECT_THROW(Output(path("link"), self), OutputError);
    EXPECT_EQ(readFile(dir_ / "a"), "new");
}

TEST(Escaped, LinesAndQuotedNames) {
    struct Case {
        std::string_view text;
        const char* line;
        const char* quoted;
    };
    const Case cases[] = {
        {"plain.obj", "plain.obj", "\"plain.obj\""},
        {"a\"b\\c", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {"n\nr\rt\te\x1b"
         "d\x7f",
         "n\\nr\\rt\\te\\x1bd\\x7f", "\"n\\x0ar\\x0dt\\x09e\\x1bd\\x7f\""},
        {"caf\xc3\xa9 \xff", "caf\xc3\xa9 \xff", "\"caf\\xc3\\xa9 \\xff\""},
        {std::string_view("z\0z", 3), "z\\x00z", "\"z\\x00z\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escaped(c.text), c.line);
        EXPECT_EQ(escaped(c.text, Escape::kQuoted), c.quoted);
    }
}

}  // namespace
