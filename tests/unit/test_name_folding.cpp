// Folding of path components for volumes with and without long names.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

namespace {

class NameFolding : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(posix_set_code_page(1252), 0); }
};

std::string folded(void (*fold)(char*, int), const std::string& in, int long_names) {
  char buffer[600] = {};
  in.copy(buffer, sizeof(buffer) - 1);
  fold(buffer, long_names);
  return buffer;
}

TEST_F(NameFolding, ComponentsForShortAndLongNames) {
  struct Case {
    const char* in;
    const char* short_form;
    const char* long_form;
  };
  const Case cases[] = {
      {"readme.txt", "readme.txt", "readme.txt"},
      {".profile", ".pro", ".profile"},
      {"index.html", "index.htm", "index.html"},
      {"archive.tar.gz", "archive_.gz", "archive.tar.gz"},
      {"a+b,c;d=[e]", "a_b_c_d_", "a+b,c;d=[e]"},
      {"q\"*<>|\\", "q______", "q______"},
      {"tab\there", "tab_here", "tab\there"},
      {"\377x", "_x", "\377x"},
      {".", ".", "."},
      {"..", "_.", ".."},
      {"name.", "name.", "name."},
      {"", "", ""},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(folded(fold_component, t.in, 0), t.short_form) << t.in;
    EXPECT_EQ(folded(fold_component, t.in, 1), t.long_form) << t.in;
  }
}

TEST_F(NameFolding, DoubleByteCharactersStayWhole) {
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

TEST_F(NameFolding, PathKeepsItsSeparatorsAndEmptyComponents) {
  const std::pair<std::string, std::string> cases[] = {
      {"Setup/./x", "Setup/./x"},
      {"a//b", "a//b"},
      {"docs/", "docs/"},
      {"/", "/"},
      {"", ""},
      {"VeryLongDirectory/AnotherLongOne/file.text", "VeryLong/AnotherL/file.tex"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(folded(fold_path, in, 0), out) << in;
  // An overlong component is cut; what follows it stays.
  EXPECT_EQ(folded(fold_path, "/" + std::string(300, 'x') + "/tail/end.txt", 1),
            "/" + std::string(255, 'x') + "/tail/end.txt");
}

}  // namespace
