// Target paths of members: directory macros, joining with the extraction
// directory, folding, the directories on the way and the display name.
// The Linux side of the seam shows C:\WINDOWS, C:\WINDOWS\SYSTEM and
// C:\Program Files, and maps every drive to a scratch folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"
#include "startup/startup.h"

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void make_directories(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0777);
  mkdir(path.c_str(), 0777);
}

void touch(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  fclose(f);
}

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
    make_directories(root + "/WINDOWS/SYSTEM");
    setenv("TEMP", "C:\\TEMP", 1);
    unsetenv("TMP");
    is_win32s = 0;
  }

  void TearDown() override {
    is_win32s = 0;
    unsetenv("TEMP");
    posix_set_code_page(1252);
    std::string command = "rm -rf '" + root + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  // The target path as the extraction pass forms it: joined, unified to
  // "/" and folded behind a leading drive.
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
    char* behind_drive = target[0] != 0 && target[1] == ':' ? target + 2 : target;
    fold_path(behind_drive, long_names);
    return target;
  }

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
  touch(root + "/WINDOWS/SYSTEM/x.dll");
  struct Case {
    const char* dir;
    const char* member;
    int long_names;
    const char* target;
  };
  const Case cases[] = {
      {"C:\\Games\\App", "data/readme.txt", 1, "C:/Games/App/data/readme.txt"},
      {"C:\\Program Files\\My App", "Read Me.first.txt", 0, "C:/Program_/My_App/Read_Me_.txt"},
      {"C:\\Program Files\\My App", "Read Me.first.txt", 1,
       "C:/Program Files/My App/Read Me.first.txt"},
      {"D:\\Setup", "%WinDir%/fonts/a.fon", 1, "C:/WINDOWS/fonts/a.fon"},
      {"D:\\Setup", "%WinRoot%/tools/a.exe", 1, "C:/tools/a.exe"},
      {"D:\\Setup", "%SystemDir%/a.drv", 1, "C:/WINDOWS/SYSTEM/a.drv"},
      {"D:\\Setup", "%ProgramFiles%/App/a.exe", 0, "C:/Program_/App/a.exe"},
      {"D:\\Setup", "%Search%/x.dll", 1, "C:/WINDOWS/SYSTEM/x.dll"},
      {"D:\\Setup", "%Search%/y.dll", 1, "C:/WINDOWS/SYSTEM/y.dll"},
      {"D:\\Setup", "%WORK%/x.tmp", 1, "C:/TEMP/x.tmp"},
      {"D:\\Setup", "/boot.ini", 1, "D:/boot.ini"},
      {"", "/boot.ini", 1, "/boot.ini"},
      {"C:", "file.txt", 1, "C:file.txt"},
      {"", "file.txt", 1, "file.txt"},
      {"D:\\Setup\\", "x.txt", 1, "D:/Setup/x.txt"},
      {"D:/Setup/", "x.txt", 1, "D:/Setup/x.txt"},
      {"D:\\Setup", "dir/we:ird?.txt", 1, "D:/Setup/dir/we_ird_.txt"},
      {"D:\\Setup", "dir/we:ird?.txt", 0, "D:/Setup/dir/we_ird_.txt"},
      {"D:\\Setup", "archive.tar.gz", 0, "D:/Setup/archive_.gz"},
      {"D:\\Setup", ".profile", 0, "D:/Setup/.pro"},
      {"D:\\Setup", "a/../b.txt", 0, "D:/Setup/a/_./b.txt"},
      {"D:\\Setup", "a/../b.txt", 1, "D:/Setup/a/../b.txt"},
      {"D:\\Setup", "%windir%/x", 1, "D:/Setup/%windir%/x"},
      {"D:\\Setup", "sub/%WinDir%/x", 1, "D:/Setup/sub/%WinDir%/x"},
      {"D:\\Setup", "docs/", 1, "D:/Setup/docs/"},
      {"D:\\Setup", "E:\\other\\file.txt", 1, "E:/other/file.txt"},
      {"D:\\Setup", "E:file.txt", 1, "E:file.txt"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(target_of(t.dir, t.member, t.long_names), t.target)
        << t.dir << " + " << t.member << (t.long_names ? " (long)" : " (short)");
  }
}

TEST_F(TargetPath, SearchForTheWholeNameSearchesAFileOfThatName) {
  EXPECT_EQ(target_of("D:\\Setup", "%Search%", 1), "C:/WINDOWS/SYSTEM");
  touch(root + "/WINDOWS/%Search%");
  EXPECT_EQ(target_of("D:\\Setup", "%Search%", 1), "C:/WINDOWS");
}

TEST_F(TargetPath, SearchResultThatDoesNotFitCountsAsNotFound) {
  // The program's own folder is searched first; put the file there, deep.
  std::string deep = root;
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(50, char('a' + i));
  make_directories(deep);
  touch(deep + "/z.dll");
  posix_set_module_path((deep + "/setup.exe").c_str());
  EXPECT_EQ(target_of("D:\\Setup", "%Search%/z.dll", 1), "C:/WINDOWS/SYSTEM/z.dll");

  // A shorter folder that is found is taken.
  std::string shallow = root + "/" + std::string(200, 's');
  make_directories(shallow);
  touch(shallow + "/z.dll");
  posix_set_module_path((shallow + "/setup.exe").c_str());
  EXPECT_EQ(target_of("D:\\Setup", "%Search%/z.dll", 1), "C:/" + std::string(200, 's') + "/z.dll");
}

TEST_F(TargetPath, ExpansionWithoutSearchNameLeavesSearchAndUnifies) {
  EXPECT_EQ(expanded("%Search%/x", ""), "%Search%\\x");
  EXPECT_EQ(expanded("%WinDir%", ""), "C:\\WINDOWS");
  EXPECT_EQ(expanded("%WinRoot%", ""), "C:");
  EXPECT_EQ(expanded("%ProgramFiles%/a/b", ""), "C:\\Program Files\\a\\b");
  EXPECT_EQ(expanded("%WinDir%X/a", ""), "C:\\WINDOWSX\\a");
  EXPECT_EQ(expanded("%WinDirX%/a", ""), "%WinDirX%\\a");
  EXPECT_EQ(expanded("%WinDi", ""), "%WinDi");
  EXPECT_EQ(expanded("plain/dir", ""), "plain\\dir");
}

TEST_F(TargetPath, ProgramFilesUnderWin32sIsTheWindowsDrive) {
  is_win32s = 1;
  EXPECT_EQ(target_of("D:\\Setup", "%ProgramFiles%/App/a.exe", 1), "C:/App/a.exe");
}

TEST_F(TargetPath, ExpandedNameIsCutAt259Characters) {
  std::string rest = "/" + std::string(250, 'r');
  std::string result = expanded("%ProgramFiles%" + rest, "");
  ASSERT_EQ(result.size(), 259u);
  EXPECT_EQ(result, ("C:\\Program Files\\" + std::string(250, 'r')).substr(0, 259));
}

TEST_F(TargetPath, LongestDirectoryAndNameFitTheTargetPath) {
  std::string dir = "D:\\" + std::string(252, 'd');
  std::string name = std::string(200, 'n') + "/" + std::string(58, 'm');
  std::string target = target_of(dir, name, 1);
  EXPECT_EQ(target.size(), 255u + 1 + 259);
}

TEST_F(TargetPath, WorkFallsBackToTmpThenToTheWindowsTempFolder) {
  setenv("TMP", "C:\\TMPDIR", 1);
  unsetenv("TEMP");
  EXPECT_EQ(target_of("D:\\Setup", "%WORK%/x.tmp", 1), "C:/TMPDIR/x.tmp");

  // A value that does not fit 255 characters counts as not set.
  setenv("TEMP", ("C:\\" + std::string(300, 't')).c_str(), 1);
  EXPECT_EQ(target_of("D:\\Setup", "%WORK%/x.tmp", 1), "C:/TMPDIR/x.tmp");

  unsetenv("TEMP");
  unsetenv("TMP");
  ASSERT_FALSE(exists(root + "/WINDOWS/TEMP"));
  EXPECT_EQ(target_of("D:\\Setup", "%WORK%/x.tmp", 1), "C:/WINDOWS/TEMP/x.tmp");
  EXPECT_TRUE(is_directory(root + "/WINDOWS/TEMP"));
}

TEST_F(TargetPath, TempDirectoryReportsAValueThatDoesNotFit) {
  char out[8];
  bytes_fill(out, '#', sizeof(out));
  EXPECT_EQ(temp_directory(7, out), 8u);  // "C:\TEMP" needs 8 bytes
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], '#');
  EXPECT_EQ(temp_directory(8, out), 7u);
  EXPECT_STREQ(out, "C:\\TEMP");
}

TEST_F(TargetPath, RegistryStringFallsBackToTheDefault) {
  char out[256];
  read_registry_string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "x", out,
                       sizeof(out));
  EXPECT_STREQ(out, "C:\\Program Files");
  read_registry_string("SOFTWARE\\Nowhere", "Value", "fallback", out, sizeof(out));
  EXPECT_STREQ(out, "fallback");
}

TEST_F(TargetPath, ParentDirectoriesAreCreatedFromTheTopDown) {
  // Each directory can only be made once its parent exists, so the whole
  // chain existing afterwards shows the order D:, D:/Setup, D:/Setup/docs.
  create_parent_directories("D:/Setup/docs/readme.txt");
  EXPECT_TRUE(is_directory(root + "/Setup/docs"));
  EXPECT_FALSE(exists(root + "/Setup/docs/readme.txt"));

  // A directory member creates its own directory; existing ones are passed over.
  create_parent_directories("D:/Setup/docs/more/deeper/");
  EXPECT_TRUE(is_directory(root + "/Setup/docs/more/deeper"));

  // A rooted path without a drive starts below the root too.
  create_parent_directories("/top/inner/file");
  EXPECT_TRUE(is_directory(root + "/top/inner"));
  EXPECT_FALSE(exists(root + "/top/inner/file"));
}

TEST_F(TargetPath, DisplayNames) {
  struct Case {
    std::string path;
    std::string shown;
  };
  const Case cases[] = {
      {"C:/Games/App/data/readme.txt", "C:/Games/App/data/readme.txt"},
      {"C:/Program Files/My Company/Long Application Name/data/readme.txt",
       "C:/Program Files/.../readme.txt"},
      {"C:/Program Files/My App/Read Me.first.txt", "C:/Program.../Read Me.first.txt"},
      {"C:/abcdefghijklmnopqrstuvwx/z.txt", "C:/abcdefghijklmnopqrs.../z.txt"},
      // Titles of 26, 27 and 28 characters: one, none and none of the path kept.
      {"C:/dir/" + std::string(26, 't'), "C.../" + std::string(26, 't')},
      {"C:/dir/" + std::string(27, 't'), ".../" + std::string(27, 't')},
      {"C:/dir/" + std::string(28, 't'), ".../" + std::string(28, 't')},
      // A directory member has no title of its own.
      {"C:/Program Files/My Company/docs/", "C:/Program Files/My Company.../"},
  };
  for (const Case& t : cases) {
    char out[text_size];
    display_name(out, t.path.c_str(), 32);
    EXPECT_EQ(out, t.shown) << t.path;
  }
}

TEST_F(TargetPath, DisplayNameOf31CharactersIsWholeAnd32Shortened) {
  std::string path31 = "C:/" + std::string(22, 'p') + "/a.txt";
  std::string path32 = "C:/" + std::string(23, 'p') + "/a.txt";
  ASSERT_EQ(path31.size(), 31u);
  char out[text_size];
  display_name(out, path31.c_str(), 32);
  EXPECT_EQ(std::string(out), path31);
  display_name(out, path32.c_str(), 32);
  EXPECT_EQ(std::string(out), "C:/" + std::string(19, 'p') + ".../a.txt");
  EXPECT_EQ(std::string(out).size(), 31u);
}

TEST_F(TargetPath, DisplayNameDoesNotSplitADoubleByteCharacter) {
  ASSERT_NE(posix_set_code_page(932), 0);
  // The kept part would end on the lead byte of the character at 8..9.
  std::string path = "C:/abcde\x82\xA0" + std::string(20, 'x') + "/a.txt";
  char out[text_size];
  display_name(out, path.c_str(), 19);  // keeps 19 - 5 - 4 - 1 = 9 bytes at most
  EXPECT_EQ(std::string(out), "C:/abcde.../a.txt");
}

}  // namespace
