// Extensions, path components, directory parts and parent folding.
#include "support/nlib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const char *s)
{
    return s ? s : "(none)";
}

TEST(Paths, ExtensionsCountFromTheLastDot)
{
    struct {
        const char *name, *stripped, *ext;
    } cases[] = {
        {"archive.tar.gz", "archive.tar", "gz"},
        {"README", "README", ""},
        {"dir.d/file", "dir", "d/file"},  // separators are not known
        {"abc.", "abc", ""},
        {"abc..", "abc..", ""},
        {"x.", "x.", ""},
        {".profile", "", "profile"},
        {nullptr, "", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(text(strip_ext(c.name)), c.stripped) << text(c.name);
        EXPECT_EQ(text(get_ext(c.name)), c.ext) << text(c.name);
    }
    const char *profile = ".profile", *tarball = "a.tar.gz";
    EXPECT_EQ(point_ext(profile), profile);
    EXPECT_EQ(point_ext(tarball), tarball + 5);
    for (const char *none : {"dir.d/file", "dir.d\\file", "x", "", (const char *)nullptr})
        EXPECT_EQ(point_ext(none), nullptr) << text(none);

    EXPECT_EQ(text(attach_ext("report", "txt")), "report.txt");
    EXPECT_EQ(text(attach_ext("report", ".txt")), "report.txt");
    EXPECT_EQ(text(attach_ext("report", nullptr)), "report");
    for (const char *refused : {".hidden", "", (const char *)nullptr})
        EXPECT_EQ(attach_ext(refused, "txt"), nullptr) << text(refused);
    std::string n510(510, 'n');
    EXPECT_EQ(text(attach_ext(n510.c_str(), "txt")), n510 + ".");
}

TEST(Paths, ComponentsAndDirectories)
{
    EXPECT_EQ(text(strip_path("/home/u/notes.txt", 0)), "notes.txt");
    EXPECT_EQ(text(strip_path("/home/u/notes.txt", 1)), "notes");
    EXPECT_EQ(text(strip_path("/home/u/", 0)), "");
    EXPECT_EQ(text(strip_path(nullptr, 1)), "");
    EXPECT_EQ(strip_path("a/b.c", 1), strip_ext("x"));  // strip_ext's own buffer

    EXPECT_EQ(text(strip_filename("a/b/c.txt")), "a/b/");
    EXPECT_EQ(text(strip_filename("/c")), "/");
    EXPECT_EQ(strip_filename("notes.txt"), nullptr);
    EXPECT_EQ(text(remove_path("/home/u/notes.txt", 1)), "u");
    EXPECT_EQ(text(remove_path("/home/u/notes.txt", 0)), "/home/");
    for (const char *none : {"notes.txt", "/notes.txt", "a/notes.txt", (const char *)nullptr})
        EXPECT_EQ(remove_path(none, 0), nullptr) << text(none);
    EXPECT_EQ(remove_path("/notes.txt", 1), nullptr);
}

TEST(Paths, UpdatePathFoldsOnlyBackslashReferences)
{
    struct {
        const char *path, *folded;
    } cases[] = {
        {"/usr/lib/..\\x", "/usr\\x"},
        {"/a/.\\b", "/a\\b"},
        {"/usr/lib/../x", "/usr/lib/../x"},
        {"/a/b/c/..\\..\\x", "/a/b\\..\\x"},
        {"/a/b/..\\c/..\\x", "\\x"},  // each fold searches on from the cut
        {"/..\\x", "/..\\x"},         // nothing above the root
        {"lib/..\\x", "lib/..\\x"},
        {"a..\\b.\\c", "a..\\b.\\c"},
        {"/x/.\\.\\y", "/x\\.\\y"},
        {nullptr, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(text(update_path(c.path)), c.folded) << text(c.path);
}

// Each function reads its input before it writes its buffer.
TEST(Paths, AResultMayBeHandedBack)
{
    EXPECT_EQ(text(strip_ext(strip_ext("a.b.c"))), "a");
    EXPECT_EQ(text(strip_path(strip_path("/x/y/z", 0), 0)), "z");
    EXPECT_EQ(text(strip_filename(strip_filename("a/b/c"))), "a/b/");
    EXPECT_EQ(text(update_path(update_path("/usr/lib/..\\x"))), "/usr\\x");
    EXPECT_EQ(text(remove_path(remove_path("/a/b/c/d", 0), 0)), "/a/");
    EXPECT_EQ(text(attach_ext("a", attach_ext("b", "c"))), "a.b.c");
}

TEST(Paths, LongInputsAreCutAt511Characters)
{
    std::string long_path = "/" + std::string(700, 'd') + "/" + std::string(700, 'f') + ".e";
    EXPECT_EQ(s_strlen(update_path(long_path.c_str())), 511u);
    EXPECT_EQ(s_strlen(strip_ext(long_path.c_str())), 511u);
    EXPECT_EQ(s_strlen(strip_path(long_path.c_str(), 0)), 511u);
    EXPECT_EQ(text(strip_filename(long_path.c_str())), "/");  // the cut drops the second '/'
    EXPECT_EQ(s_strlen(attach_ext(std::string(600, 'n').c_str(), "txt")), 511u);
}

}  // namespace
