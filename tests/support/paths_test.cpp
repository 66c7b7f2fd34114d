#include <gtest/gtest.h>

#include <string>

#include "support/nlib.h"

namespace {

std::string text(const char *s)
{
    return s ? s : "(none)";
}

}  // namespace

TEST(Paths, ExtensionsCountFromTheLastDot)
{
    EXPECT_EQ(text(strip_ext("archive.tar.gz")), "archive.tar");
    EXPECT_EQ(text(strip_ext("README")), "README");
    EXPECT_EQ(text(strip_ext(nullptr)), "");
    EXPECT_EQ(text(strip_ext("dir.d/file")), "dir");  // separators are not known
    EXPECT_EQ(text(strip_ext("abc.")), "abc");
    EXPECT_EQ(text(strip_ext("abc..")), "abc..");
    EXPECT_EQ(text(strip_ext("x.")), "x.");
    EXPECT_EQ(text(strip_ext(".")), ".");
    EXPECT_EQ(text(strip_ext(".profile")), "");

    EXPECT_EQ(text(get_ext("archive.tar.gz")), "gz");
    EXPECT_EQ(text(get_ext("README")), "");
    EXPECT_EQ(text(get_ext("name.")), "");
    EXPECT_EQ(text(get_ext(nullptr)), "");

    const char *profile = ".profile";
    EXPECT_EQ(point_ext(profile), profile);
    const char *tarball = "a.tar.gz";
    EXPECT_EQ(point_ext(tarball), tarball + 5);
    EXPECT_EQ(point_ext("dir.d/file"), nullptr);
    EXPECT_EQ(point_ext("dir.d\\file"), nullptr);
    const char *dot = ".";
    EXPECT_EQ(point_ext(dot), dot);
    EXPECT_EQ(point_ext("x"), nullptr);
    EXPECT_EQ(point_ext(""), nullptr);
    EXPECT_EQ(point_ext(nullptr), nullptr);
}

TEST(Paths, AttachExtAddsOneDotAndRefusesHiddenOrEmptyNames)
{
    EXPECT_EQ(text(attach_ext("report", "txt")), "report.txt");
    EXPECT_EQ(text(attach_ext("report", ".txt")), "report.txt");
    EXPECT_EQ(text(attach_ext("report", nullptr)), "report");
    EXPECT_EQ(text(attach_ext("report", "")), "report");
    EXPECT_EQ(text(attach_ext(".hidden", "txt")), "(none)");
    EXPECT_EQ(text(attach_ext("", "txt")), "(none)");
    EXPECT_EQ(text(attach_ext("", nullptr)), "(none)");
    EXPECT_EQ(text(attach_ext(nullptr, "txt")), "(none)");

    std::string long_name(510, 'n');
    EXPECT_EQ(text(attach_ext(long_name.c_str(), "txt")), long_name + ".");
}

TEST(Paths, ComponentsAndDirectories)
{
    EXPECT_EQ(text(strip_path("/home/u/notes.txt", 0)), "notes.txt");
    EXPECT_EQ(text(strip_path("/home/u/notes.txt", 1)), "notes");
    EXPECT_EQ(text(strip_path("notes.txt", 0)), "notes.txt");
    EXPECT_EQ(text(strip_path("/home/u/", 0)), "");
    EXPECT_EQ(text(strip_path(nullptr, 1)), "");
    // With drop_ext the result is strip_ext's own buffer.
    EXPECT_EQ(strip_path("a/b.c", 1), strip_ext("x"));

    EXPECT_EQ(text(strip_filename("a/b/c.txt")), "a/b/");
    EXPECT_EQ(text(strip_filename("/c")), "/");
    EXPECT_EQ(text(strip_filename("notes.txt")), "(none)");
    EXPECT_EQ(text(strip_filename(nullptr)), "(none)");

    EXPECT_EQ(text(remove_path("/home/u/notes.txt", 1)), "u");
    EXPECT_EQ(text(remove_path("/home/u/notes.txt", 0)), "/home/");
    EXPECT_EQ(text(remove_path("a/b/c.txt", 1)), "b");
    EXPECT_EQ(text(remove_path("a/b/c.txt", 0)), "a/");
    EXPECT_EQ(text(remove_path("notes.txt", 1)), "(none)");
    EXPECT_EQ(text(remove_path("/notes.txt", 0)), "(none)");
    EXPECT_EQ(text(remove_path("/notes.txt", 1)), "(none)");
    EXPECT_EQ(text(remove_path("a/notes.txt", 0)), "(none)");
    EXPECT_EQ(text(remove_path(nullptr, 1)), "(none)");
}

TEST(Paths, UpdatePathFoldsOnlyBackslashReferences)
{
    EXPECT_EQ(text(update_path("/usr/lib/..\\x")), "/usr\\x");
    EXPECT_EQ(text(update_path("/a/.\\b")), "/a\\b");
    EXPECT_EQ(text(update_path("/usr/lib/../x")), "/usr/lib/../x");
    EXPECT_EQ(text(update_path("/a/b/c/..\\..\\x")), "/a/b\\..\\x");
    EXPECT_EQ(text(update_path("/a/b/..\\c/..\\x")), "\\x");  // each fold searches on from the cut
    EXPECT_EQ(text(update_path("/..\\x")), "/..\\x");     // nothing above the root
    EXPECT_EQ(text(update_path("lib/..\\x")), "lib/..\\x");  // no earlier '/'
    EXPECT_EQ(text(update_path("a..\\b.\\c")), "a..\\b.\\c");
    EXPECT_EQ(text(update_path("/x/.\\.\\y")), "/x\\.\\y");
    EXPECT_EQ(text(update_path(nullptr)), "");
}

TEST(Paths, LongInputsAreCutAt511Characters)
{
    std::string long_path = "/" + std::string(700, 'd') + "/" + std::string(700, 'f') + ".e";
    EXPECT_EQ(s_strlen(update_path(long_path.c_str())), 511u);
    EXPECT_EQ(s_strlen(strip_ext(long_path.c_str())), 511u);
    EXPECT_EQ(s_strlen(strip_path(long_path.c_str(), 0)), 511u);
    EXPECT_EQ(s_strlen(get_ext(long_path.c_str())), 1u);
    EXPECT_EQ(text(strip_filename(long_path.c_str())), "/");  // the cut drops the second '/'
    std::string name(600, 'n');
    EXPECT_EQ(s_strlen(attach_ext(name.c_str(), "txt")), 511u);
}
