// Separators, base names and the folding of components for volumes with
// and without long names, in single-byte and double-byte code pages.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

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
  EXPECT_STREQ(base_name("C:file.txt"), "file.txt");
  EXPECT_STREQ(base_name("a/b\\c\377d.txt"), "d.txt");

  ASSERT_NE(posix_set_code_page(932), 0);
  EXPECT_EQ(find_char_in_set(s.c_str(), "|"), s.c_str() + 3);
  EXPECT_EQ(find_char_in_set(kTrailBackslash.c_str(), "\\"), nullptr);
  EXPECT_EQ(find_char_in_set("\x95", "\x95"), nullptr);
  EXPECT_EQ(base_name(("dir\\" + kTrailBackslash + ".txt").c_str()), kTrailBackslash + ".txt");
}

TEST_F(PathText, AppendSeparatorLooksAtTheLastWholeCharacterAndTheRoom) {
  EXPECT_EQ(appended("C:\\dir"), "C:\\dir/");
  EXPECT_EQ(appended("C:/dir/"), "C:/dir/");

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

std::string folded(void (*fold)(char*, int), const std::string& in, int long_names) {
  char buffer[600] = {};
  in.copy(buffer, sizeof(buffer) - 1);
  fold(buffer, long_names);
  return buffer;
}

TEST_F(PathText, ComponentsForShortAndLongNames) {
  struct Case {
    const char* in;
    const char* short_form;
    const char* long_form;
  };
  const Case cases[] = {
      {".profile", ".pro", ".profile"},
      {"index.html", "index.htm", "index.html"},
      {"archive.tar.gz", "archive_.gz", "archive.tar.gz"},
      {"a+b,c;d=[e]", "a_b_c_d_", "a+b,c;d=[e]"},
      {"q\"*<>|\\", "q______", "q______"},
      {"\377x", "_x", "\377x"},
      {"..", "_.", ".."},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(folded(fold_component, t.in, 0), t.short_form) << t.in;
    EXPECT_EQ(folded(fold_component, t.in, 1), t.long_form) << t.in;
  }
}

TEST_F(PathText, DoubleByteCharactersStayWhole) {
  ASSERT_NE(posix_set_code_page(932), 0);
  const std::pair<std::string, std::string> short_names[] = {
      // Trail bytes that are invalid characters in single-byte text.
      {"\x95\x5C\x83\x7C.txt", "\x95\x5C\x83\x7C.txt"},
      // Seven single bytes and one double-byte character: the last does not fit.
      {"abcdefg\x82\xA0.txt", "abcdefg.txt"},
      {"abcdef\x82\xA0.txt", "abcdef\x82\xA0.txt"},
      {"a.\x82\xA0\x82\xA2", "a.\x82\xA0"},
      {"ab\x82", "ab"},  // a lead byte with nothing behind it
  };
  for (const auto& [in, out] : short_names) EXPECT_EQ(folded(fold_component, in, 0), out) << in;
  // A long name cut inside a double-byte character loses the whole character.
  EXPECT_EQ(folded(fold_component, std::string(254, 'n') + "\x82\xA0", 1), std::string(254, 'n'));
  // In a single-byte code page the same bytes are single characters.
  ASSERT_NE(posix_set_code_page(1252), 0);
  EXPECT_EQ(folded(fold_component, "\x95\x5C\x83\x7C.txt", 0), "\x95_\x83_.txt");
}

TEST_F(PathText, PathKeepsItsSeparatorsAndEmptyComponents) {
  const std::pair<std::string, std::string> cases[] = {
      {"Setup/./x", "Setup/./x"},
      {"a//b/", "a//b/"},
      {"VeryLongDirectory/AnotherLongOne/file.text", "VeryLong/AnotherL/file.tex"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(folded(fold_path, in, 0), out) << in;
  // An overlong component is cut; what follows it stays.
  EXPECT_EQ(folded(fold_path, "/" + std::string(300, 'x') + "/tail/end.txt", 1),
            "/" + std::string(255, 'x') + "/tail/end.txt");
}
