// Target paths of members: directory macros, joining with the extraction
// directory; separators, base names and folding for volumes without long
// names, in single-byte and double-byte code pages, never past a lead byte at
// the end nor past the room given. The Linux side of the seam shows
// C:\WINDOWS, C:\WINDOWS\SYSTEM and C:\Program Files, and maps every drive
// to a scratch folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"
#include "startup/startup.h"

namespace fs = std::filesystem;

class TargetPath : public ::testing::Test {
 protected:
  std::string root;

  void SetUp() override {
    char scratch[] = "/tmp/kobrix_target_XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    root = scratch;
    posix_set_root(root.c_str());
    posix_set_module_path((root + "/setup.exe").c_str());
    ASSERT_NE(posix_set_code_page(1252), 0);
    fs::create_directories(root + "/WINDOWS/SYSTEM");
    setenv("TEMP", "C:\\TEMP", 1);
    unsetenv("TMP");
    is_win32s = 0;
  }
  void TearDown() override { fs::remove_all(root); }

  void touch(const std::string& path) { ASSERT_TRUE(std::ofstream(root + path).good()) << path; }

  // The target path as the extraction pass forms it: joined, unified to
  // "/" and folded behind a leading drive; never past its 516 bytes.
  static std::string target_of(const std::string& dir, const std::string& member, int long_names) {
    char dest_dir[dir_size];
    char member_name[path_size];
    char target[target_size + 8];
    bytes_fill(target, '#', sizeof(target));
    text_copy(dest_dir, dir.c_str(), sizeof(dest_dir));
    text_copy(member_name, member.c_str(), sizeof(member_name));
    build_target_path(target, dest_dir, member_name);
    for (uint32_t i = target_size; i < sizeof(target); ++i) EXPECT_EQ(target[i], '#');
    unify_separators(target, '/');
    fold_path(target[0] != 0 && target[1] == ':' ? target + 2 : target, long_names);
    return target;
  }

  // The path expanded in its 260 bytes, never past them.
  static std::string expanded(const std::string& path, const char* search_name) {
    char buffer[path_size + 8];
    bytes_fill(buffer, '#', sizeof(buffer));
    text_copy(buffer, path.c_str(), path_size);
    expand_macros(buffer, search_name);
    for (uint32_t i = path_size; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], '#');
    return buffer;
  }
};

TEST_F(TargetPath, WorkedExamples) {
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"C:\\Games\\App", "data/readme.txt", 1, "C:/Games/App/data/readme.txt"},
      {"C:\\Program Files\\My App", "Read Me.first.txt", 0, "C:/Program_/My_App/Read_Me_.txt"},
      {"D:\\Setup", "%WinDir%/fonts/a.fon", 1, "C:/WINDOWS/fonts/a.fon"},
      {"D:\\Setup", "%ProgramFiles%/App/a.exe", 0, "C:/Program_/App/a.exe"},
      {"D:\\Setup", "%Search%/y.dll", 1, "C:/WINDOWS/SYSTEM/y.dll"},  // not found
      {"D:\\Setup", "/boot.ini", 1, "D:/boot.ini"},
      {"C:", "file.txt", 1, "C:file.txt"},
      {"D:\\Setup", "%windir%/x", 1, "D:/Setup/%windir%/x"},
      {"D:\\Setup", "E:\\other\\file.txt", 1, "E:/other/file.txt"},
  };
  for (const auto& [dir, member, long_names, target] : cases)
    EXPECT_EQ(target_of(dir, member, long_names), target) << dir << " + " << member;
  // The longest directory and name fit the target path.
  std::string name = std::string(200, 'n') + "/" + std::string(58, 'm');
  EXPECT_EQ(target_of("D:\\" + std::string(252, 'd'), name, 1).size(), 255u + 1 + 259);
}

TEST_F(TargetPath, SearchResultThatDoesNotFitCountsAsNotFound) {
  // The program's own folder is searched first; put the file there, deep.
  std::string deep;
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(50, char('a' + i));
  fs::create_directories(root + deep);
  touch(deep + "/z.dll");
  posix_set_module_path((root + deep + "/setup.exe").c_str());
  EXPECT_EQ(target_of("D:\\Setup", "%Search%/z.dll", 1), "C:/WINDOWS/SYSTEM/z.dll");
  // A shorter folder that is found is taken.
  std::string shallow = "/" + std::string(200, 's');
  fs::create_directories(root + shallow);
  touch(shallow + "/z.dll");
  posix_set_module_path((root + shallow + "/setup.exe").c_str());
  EXPECT_EQ(target_of("D:\\Setup", "%Search%/z.dll", 1), "C:" + shallow + "/z.dll");
}

TEST_F(TargetPath, MacrosAndTheTempFolderStayWithinTheirRoom) {
  EXPECT_EQ(expanded("%WinDi", ""), "%WinDi");
  EXPECT_EQ(expanded("%ProgramFiles%/" + std::string(250, 'r'), ""),
            ("C:\\Program Files\\" + std::string(250, 'r')).substr(0, 259));
  // %WORK% is TEMP, else TMP, else the Windows temp folder, made; a value of
  // more than 255 characters counts as not set.
  setenv("TEMP", ("C:\\" + std::string(300, 't')).c_str(), 1);
  setenv("TMP", "C:\\TMPDIR", 1);
  EXPECT_EQ(target_of("D:\\Setup", "%WORK%/x.tmp", 1), "C:/TMPDIR/x.tmp");
  unsetenv("TEMP");
  unsetenv("TMP");
  EXPECT_EQ(target_of("D:\\Setup", "%WORK%/x.tmp", 1), "C:/WINDOWS/TEMP/x.tmp");
  EXPECT_TRUE(fs::is_directory(root + "/WINDOWS/TEMP"));
  char out[16];
  bytes_fill(out, '#', sizeof(out));
  setenv("TEMP", "C:\\TEMP", 1);
  EXPECT_EQ(temp_directory(7, out), 8u);  // "C:\TEMP" needs 8 bytes
  EXPECT_EQ(out[1], '#');
  // Under Win32s the program files are on the Windows drive.
  is_win32s = 1;
  EXPECT_EQ(expanded("%ProgramFiles%/App", ""), "C:\\App");
}

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
