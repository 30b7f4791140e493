// Separators, base names and prefixes of paths, in single-byte and
// double-byte code pages.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

namespace {

// Shift-JIS characters whose trail byte is a "\\" or a "|" in single-byte text.
const std::string kTrailBackslash = "\x95\x5C";
const std::string kTrailBar = "\x83\x7C";

class PathText : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(posix_set_code_page(1252), 0); }

  // The unified path, and its base name behind a "|".
  static std::string unified(const std::string& in, char c) {
    char path[64] = {};
    in.copy(path, sizeof(path) - 1);
    char* base = unify_separators(path, c);
    return std::string(path) + "|" + base;
  }

  static std::string appended(const std::string& in) {
    char path[32] = {};
    in.copy(path, sizeof(path) - 1);
    append_separator(path, sizeof(path));
    return path;
  }
};

TEST_F(PathText, UnifySeparators) {
  EXPECT_EQ(unified("a\\b/c\377d", '/'), "a/b/c/d|d");
  EXPECT_EQ(unified("C:/dir/sub/", '\\'), "C:\\dir\\sub\\|");
  EXPECT_EQ(unified("plain", '/'), "plain|plain");
  EXPECT_EQ(unified("", '/'), "|");

  ASSERT_NE(posix_set_code_page(932), 0);
  std::string jp = "dir\\" + kTrailBackslash + "/" + kTrailBackslash + ".txt";
  EXPECT_EQ(unified(jp, '/'),
            "dir/" + kTrailBackslash + "/" + kTrailBackslash + ".txt|" + kTrailBackslash + ".txt");
  // A lead byte at the very end has no trail byte to take along.
  EXPECT_EQ(unified("a/\x95", '\\'), "a\\\x95|\x95");
}

TEST_F(PathText, FindCharInSetAndBaseNameStepOverDoubleByteCharacters) {
  std::string s = "x" + kTrailBar + "|y";
  EXPECT_EQ(find_char_in_set(s.c_str(), "|"), s.c_str() + 2);  // 1252: 0x7C is a "|"
  EXPECT_EQ(find_char_in_set("abc", "xyz"), nullptr);
  EXPECT_STREQ(base_name("C:file.txt"), "file.txt");
  EXPECT_STREQ(base_name("a/b\\c\377d.txt"), "d.txt");
  EXPECT_STREQ(base_name("%Search%"), "%Search%");
  EXPECT_STREQ(base_name("docs/"), "");

  ASSERT_NE(posix_set_code_page(932), 0);
  EXPECT_EQ(find_char_in_set(s.c_str(), "|"), s.c_str() + 3);
  EXPECT_EQ(find_char_in_set(kTrailBackslash.c_str(), "\\"), nullptr);
  EXPECT_EQ(find_char_in_set("\x95", "\x95"), nullptr);
  EXPECT_EQ(base_name(("dir\\" + kTrailBackslash + ".txt").c_str()), kTrailBackslash + ".txt");
}

TEST_F(PathText, AppendSeparatorLooksAtTheLastWholeCharacterAndTheRoom) {
  EXPECT_EQ(appended("C:\\dir"), "C:\\dir/");
  EXPECT_EQ(appended("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(appended("C:/dir/"), "C:/dir/");
  EXPECT_EQ(appended("C:"), "C:/");
  EXPECT_EQ(appended(""), "/");

  char buffer[8] = {'a', 'b', 'c', 'd', 0, '#', '#', '#'};
  append_separator(buffer, 5);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(buffer[5], '#');
  append_separator(buffer, 6);
  EXPECT_STREQ(buffer, "abcd/");
  EXPECT_EQ(buffer[6], '#');

  ASSERT_NE(posix_set_code_page(932), 0);
  EXPECT_EQ(appended("C:\\" + kTrailBackslash), "C:\\" + kTrailBackslash + "/");
}

}  // namespace
