// Separators, base names and the folding of components for volumes with
// and without long names, in single-byte and double-byte code pages; never
// past a lead byte at the end, nor past the room given.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

// In code page 932 "\x95\x5C" is one character whose trail byte is a "\\".
TEST(PathText, SeparatorsAndBaseNamesStepOverDoubleByteCharacters) {
  ASSERT_NE(posix_set_code_page(932), 0);
  auto unified = [](const std::string& in, char c) {
    char path[64] = {};
    in.copy(path, sizeof(path) - 1);
    char* base = unify_separators(path, c);
    return std::string(path) + "|" + base;  // and the base name behind a "|"
  };
  EXPECT_EQ(unified("dir\\\x95\x5C/\x95\x5C.txt\377d", '/'), "dir/\x95\x5C/\x95\x5C.txt/d|d");
  // A lead byte at the very end has no trail byte to take along.
  EXPECT_EQ(unified("a/\x95", '\\'), "a\\\x95|\x95");
  EXPECT_EQ(find_char_in_set("\x95", "\x95"), nullptr);
  // A separator goes behind the last whole character, only where there is room.
  char buffer[8] = {'a', 'b', '\x95', '\x5C', 0, '#', '#', '#'};
  append_separator(buffer, 5);
  EXPECT_STREQ(buffer, "ab\x95\x5C");
  append_separator(buffer, 6);
  EXPECT_STREQ(buffer, "ab\x95\x5C/");
  EXPECT_EQ(buffer[6], '#');
  ASSERT_NE(posix_set_code_page(1252), 0);
  EXPECT_EQ(unified("a\\\x95\x5C", '/'), "a/\x95/|");
}

std::string folded(void (*fold)(char*, int), const std::string& in, int long_names) {
  char buffer[600] = {};
  in.copy(buffer, sizeof(buffer) - 1);
  fold(buffer, long_names);
  return buffer;
}

TEST(PathText, ComponentsAndPathsForShortAndLongNames) {
  ASSERT_NE(posix_set_code_page(1252), 0);
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {".profile", ".pro", ".profile"},
      {"archive.tar.gz", "archive_.gz", "archive.tar.gz"},
      {"a+b,c;d=[e]", "a_b_c_d_", "a+b,c;d=[e]"},
      {"q\"*<>|\\", "q______", "q______"},
      {"\377x", "_x", "\377x"},
      {"..", "_.", ".."},
      {"\x95\x5C\x83\x7C.txt", "\x95_\x83_.txt", "\x95_\x83_.txt"},  // single bytes in 1252
  };
  for (const auto& [in, short_form, long_form] : cases) {
    EXPECT_EQ(folded(fold_component, in, 0), short_form) << in;
    EXPECT_EQ(folded(fold_component, in, 1), long_form) << in;
  }
  // Separators and empty components stay; an overlong component is cut.
  EXPECT_EQ(folded(fold_path, "VeryLongDirectory/./a//file.text", 0), "VeryLong/./a//file.tex");
  EXPECT_EQ(folded(fold_path, "/" + std::string(300, 'x') + "/tail/end.txt", 1),
            "/" + std::string(255, 'x') + "/tail/end.txt");

  ASSERT_NE(posix_set_code_page(932), 0);
  const std::pair<std::string, std::string> short_names[] = {
      {"\x95\x5C\x83\x7C.txt", "\x95\x5C\x83\x7C.txt"},
      // Seven single bytes and one double-byte character: the last does not fit.
      {"abcdefg\x82\xA0.txt", "abcdefg.txt"},
      {"a.\x82\xA0\x82\xA2", "a.\x82\xA0"},
      {"ab\x82", "ab"},  // a lead byte with nothing behind it
  };
  for (const auto& [in, out] : short_names) EXPECT_EQ(folded(fold_component, in, 0), out) << in;
  // A long name cut inside a double-byte character loses the whole character.
  EXPECT_EQ(folded(fold_component, std::string(254, 'n') + "\x82\xA0", 1), std::string(254, 'n'));
}
