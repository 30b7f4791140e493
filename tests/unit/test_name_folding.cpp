// Folding of path components for volumes with and without long names.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

namespace {

class NameFolding : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(posix_set_code_page(1252), 0); }
  void TearDown() override { posix_set_code_page(1252); }
};

std::string folded_component(const std::string& in, int long_names) {
  char buffer[600];
  in.copy(buffer, sizeof(buffer) - 1);
  buffer[in.size()] = 0;
  fold_component(buffer, long_names);
  return buffer;
}

std::string folded_path(const std::string& in, int long_names) {
  char buffer[600];
  in.copy(buffer, sizeof(buffer) - 1);
  buffer[in.size()] = 0;
  fold_path(buffer, long_names);
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
      {"a+b,c;d=[e]", "a_b_c_d_", "a+b,c;d=[e]"},
      {"q\"*<>|\\", "q______", "q______"},
      {"tab\there", "tab_here", "tab\there"},
      {"\xFF"
       "x",
       "_x",
       "\xFF"
       "x"},
      {".", ".", "."},
      {"..", "_.", ".."},
      {"name.", "name.", "name."},
      {"", "", ""},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(folded_component(t.in, 0), t.short_form) << t.in;
    EXPECT_EQ(folded_component(t.in, 1), t.long_form) << t.in;
  }
}

TEST_F(NameFolding, CleanNamePartCutsAtCountAndReplacesInvalidBytes) {
  char part[] = "ab*cdefghij";
  EXPECT_EQ(clean_name_part(part, 8, 0), 8u);
  EXPECT_STREQ(part, "ab_cdefg");

  char control[] = "\x01\x1F\x20\x7F";
  EXPECT_EQ(clean_name_part(control, 8, 0), 4u);
  EXPECT_STREQ(control, "___\x7F");
  char kept[] = "\x01\x1F\x20\x7F";
  EXPECT_EQ(clean_name_part(kept, 8, 1), 4u);
  EXPECT_STREQ(kept, "\x01\x1F\x20\x7F");
}

TEST_F(NameFolding, DoubleByteCharactersStayWhole) {
  ASSERT_NE(posix_set_code_page(932), 0);
  // Trail bytes that are invalid characters in single-byte text pass unchanged.
  EXPECT_EQ(folded_component("\x95\x5C\x83\x7C.txt", 0), "\x95\x5C\x83\x7C.txt");
  // Seven single bytes and one double-byte character: the last does not fit.
  EXPECT_EQ(folded_component("abcdefg\x82\xA0.txt", 0), "abcdefg.txt");
  EXPECT_EQ(folded_component("abcdef\x82\xA0.txt", 0), "abcdef\x82\xA0.txt");
  EXPECT_EQ(folded_component("a.\x82\xA0\x82\xA2", 0), "a.\x82\xA0");
  // A lead byte with nothing behind it is left out.
  EXPECT_EQ(folded_component("ab\x82", 0), "ab");
  // A long name cut inside a double-byte character loses the whole character.
  std::string name = std::string(254, 'n') + "\x82\xA0";
  EXPECT_EQ(folded_component(name, 1), std::string(254, 'n'));

  // In a single-byte code page the same bytes are single characters.
  ASSERT_NE(posix_set_code_page(1252), 0);
  EXPECT_EQ(folded_component("\x95\x5C\x83\x7C.txt", 0), "\x95_\x83_.txt");
}

TEST_F(NameFolding, PathKeepsItsSeparatorsAndEmptyComponents) {
  struct Case {
    const char* in;
    int long_names;
    const char* out;
  };
  const Case cases[] = {
      {"Setup/./x", 0, "Setup/./x"},
      {"a//b", 0, "a//b"},
      {"docs/", 0, "docs/"},
      {"/", 0, "/"},
      {"", 0, ""},
      {"VeryLongDirectory/AnotherLongOne/file.text", 0, "VeryLong/AnotherL/file.tex"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(folded_path(t.in, t.long_names), t.out) << t.in;
  }
}

TEST_F(NameFolding, PathWithAnOverlongComponentKeepsWhatFollows) {
  std::string in = "/" + std::string(300, 'x') + "/tail/end.txt";
  EXPECT_EQ(folded_path(in, 1), "/" + std::string(255, 'x') + "/tail/end.txt");
}

}  // namespace
