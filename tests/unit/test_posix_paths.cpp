// The Linux side of the seam: path mapping, write containment, code pages,
// files, attributes and times.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

namespace {

std::string make_temp_dir() {
  char pattern[] = "/tmp/kobrix_paths_XXXXXX";
  char* made = mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  char resolved[PATH_MAX];
  EXPECT_NE(realpath(made, resolved), nullptr);
  return resolved;
}

void remove_tree(const std::string& path) {
  std::string command = "rm -rf '" + path + "'";
  EXPECT_EQ(system(command.c_str()), 0);
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string cwd() {
  char buffer[PATH_MAX];
  EXPECT_NE(getcwd(buffer, sizeof buffer), nullptr);
  return buffer;
}

void write_file(const std::string& path, const char* data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, data, strlen(data)), ssize_t(strlen(data)));
  close(fd);
}

// A root and, beside it, a folder outside it; code page 932.
class PosixSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = make_temp_dir();
    root_ = base_ + "/root";
    outside_ = base_ + "/outside";
    ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(outside_.c_str(), 0755), 0);
    ASSERT_EQ(posix_set_code_page(932), 1);
    posix_set_root(root_.c_str());
    posix_set_extract_dir("C:\\", 0);
  }
  void TearDown() override {
    chmod((root_ + "/ro.txt").c_str(), 0644);
    remove_tree(base_);
  }
  std::string base_, root_, outside_;
};

TEST_F(PosixSeam, DrivesAndRootedPathsMapIntoTheRoot) {
  EXPECT_EQ(posix_map_path("C:\\WINDOWS\\SYSTEM"), root_ + "/WINDOWS/SYSTEM");
  EXPECT_EQ(posix_map_path("d:/Setup/a.txt"), root_ + "/Setup/a.txt");
  EXPECT_EQ(posix_map_path("C:"), root_);
  EXPECT_EQ(posix_map_path("C:\\"), root_);
  EXPECT_EQ(posix_map_path("C:file.txt"), root_ + "/file.txt");
  EXPECT_EQ(posix_map_path("\\boot.ini"), root_ + "/boot.ini");
  EXPECT_EQ(posix_map_path("/etc/passwd"), root_ + "/etc/passwd");
  EXPECT_EQ(posix_map_path("//server/share/x"), root_ + "/server/share/x");
  // Already below the root: taken as it is.
  EXPECT_EQ(posix_map_path((root_ + "/a/b").c_str()), root_ + "/a/b");
  // Relative to the current directory; "." and ".." resolved.
  EXPECT_EQ(posix_map_path("a\\b/./c"), cwd() + "/a/b/c");
  EXPECT_EQ(posix_map_path("C:\\a\\..\\b"), root_ + "/b");
  // ".." is not held at the root: such a path leaves it.
  EXPECT_EQ(posix_map_path("C:\\..\\x"), base_ + "/x");
  EXPECT_EQ(posix_map_path(""), "");
}

TEST_F(PosixSeam, ExtractionDirectoryAndTheWayToItAreTakenAsTheyAre) {
  std::string extract = outside_ + "/new/out";
  posix_set_extract_dir(extract.c_str(), 1);
  EXPECT_EQ(posix_extract_dir(), extract);
  EXPECT_EQ(posix_map_path((extract + "/a.txt").c_str()), extract + "/a.txt");
  // Folders on the way stay where they are instead of moving below the root.
  EXPECT_EQ(posix_map_path(outside_.c_str()), outside_);
  EXPECT_EQ(posix_map_path((outside_ + "/other").c_str()), root_ + outside_ + "/other");
  // Start-up hands the directory over with backslashes.
  std::string backslashed = extract;
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  posix_set_extract_dir(backslashed.c_str(), 1);
  EXPECT_EQ(posix_extract_dir(), extract);
  // The archive's own rooted directory goes below the root.
  posix_set_extract_dir(backslashed.c_str(), 0);
  EXPECT_EQ(posix_extract_dir(), root_ + extract);
  EXPECT_EQ(posix_map_path(outside_.c_str()), root_ + outside_);
  posix_set_extract_dir("C:\\Games\\App", 1);
  EXPECT_EQ(posix_extract_dir(), root_ + "/Games/App");
  posix_set_extract_dir("\\Games", 0);
  EXPECT_EQ(posix_extract_dir(), root_ + "/Games");
  posix_set_extract_dir("out", 1);
  EXPECT_EQ(posix_extract_dir(), cwd() + "/out");
  posix_set_extract_dir("", 0);
  EXPECT_EQ(posix_extract_dir(), cwd());
}

// The pass creates every folder of a target path from the top, then the file.
std::string extract_like_the_pass(const std::string& target) {
  for (size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1))
    sys_create_directory(target.substr(0, slash).c_str());
  FileHandle file = sys_create_file(target.c_str());
  if (file == invalid_file) return "Open ERROR";
  sys_close_file(file);
  return "ok";
}

TEST_F(PosixSeam, MembersLandBelowTheUsersOrTheArchivesDirectory) {
  // The user's directory beside the root: written there, and nothing new
  // appears below the root.
  std::string users = outside_ + "/dest";
  posix_set_extract_dir(users.c_str(), 1);
  EXPECT_EQ(extract_like_the_pass(users + "/docs/a.txt"), "ok");
  EXPECT_TRUE(exists(users + "/docs/a.txt"));
  EXPECT_EQ(extract_like_the_pass(users + "/../../escape.txt"), "Open ERROR");
  EXPECT_FALSE(exists(base_ + "/escape.txt"));
  EXPECT_EQ(extract_like_the_pass(users + "/x/../../sibling/b.txt"), "Open ERROR");
  EXPECT_FALSE(exists(outside_ + "/sibling"));
  EXPECT_EQ(extract_like_the_pass("/boot.ini"), "ok");
  EXPECT_TRUE(exists(root_ + "/boot.ini"));

  // The same text as the archive's default: everything below the root.
  posix_set_extract_dir(users.c_str(), 0);
  EXPECT_EQ(extract_like_the_pass(users + "/docs/b.txt"), "ok");
  EXPECT_TRUE(exists(root_ + users + "/docs/b.txt"));
  EXPECT_FALSE(exists(users + "/docs/b.txt"));
}

TEST_F(PosixSeam, WritesStayInsideTheRootAndTheExtractionDirectory) {
  FileHandle file = sys_create_file("C:\\inside.txt");
  ASSERT_NE(file, invalid_file);
  EXPECT_NE(file, 0);
  EXPECT_EQ(sys_close_file(file), 1);
  EXPECT_TRUE(exists(root_ + "/inside.txt"));

  errno = 0;
  EXPECT_EQ(sys_create_file("C:\\..\\outside\\escape.txt"), invalid_file);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(outside_ + "/escape.txt"));
  EXPECT_EQ(sys_create_directory("C:\\..\\made"), 0);
  EXPECT_FALSE(exists(base_ + "/made"));

  // A rooted path outside stays below the root, wherever it points.
  file = sys_create_file("/kobrix_rooted.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  EXPECT_FALSE(exists("/kobrix_rooted.txt"));
  EXPECT_TRUE(exists(root_ + "/kobrix_rooted.txt"));

  // Deleting is held to the same rule.
  write_file(outside_ + "/keep.txt", "keep");
  posix_set_extract_dir((outside_ + "/out").c_str(), 1);
  EXPECT_EQ(sys_delete_file((outside_ + "/out/../keep.txt").c_str()), 0);
  EXPECT_TRUE(exists(outside_ + "/keep.txt"));
  EXPECT_EQ(sys_set_file_attributes((outside_ + "/out/../keep.txt").c_str(), attr_read_only), 0);
}

TEST_F(PosixSeam, SymbolicLinksDoNotLeadOutOfTheRoot) {
  ASSERT_EQ(symlink(outside_.c_str(), (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink((outside_ + "/missing").c_str(), (root_ + "/dangling").c_str()), 0);
  EXPECT_EQ(sys_create_file("C:\\link\\f.txt"), invalid_file);
  EXPECT_EQ(sys_create_directory("C:\\link\\sub"), 0);
  EXPECT_EQ(sys_create_file("C:\\dangling"), invalid_file);
  EXPECT_FALSE(exists(outside_ + "/f.txt"));
  EXPECT_FALSE(exists(outside_ + "/sub"));
  EXPECT_FALSE(exists(outside_ + "/missing"));
  // A link that stays inside is followed.
  ASSERT_EQ(mkdir((root_ + "/real").c_str(), 0755), 0);
  ASSERT_EQ(symlink((root_ + "/real").c_str(), (root_ + "/inner").c_str()), 0);
  FileHandle file = sys_create_file("C:\\inner\\f.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  EXPECT_TRUE(exists(root_ + "/real/f.txt"));
}

TEST_F(PosixSeam, AFolderMovedOutBetweenTwoFilesIsNotWrittenThrough) {
  // The second file in a folder is created by its name in the folder the
  // first one resolved; moved out of the root, with a link to it in its
  // place, the folder is not written through what was kept of it.
  ASSERT_EQ(mkdir((root_ + "/dir").c_str(), 0755), 0);
  FileHandle file = sys_create_file("C:\\dir\\a.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  file = sys_create_file("C:\\dir\\b.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  EXPECT_TRUE(exists(root_ + "/dir/b.txt"));
  ASSERT_EQ(rename((root_ + "/dir").c_str(), (outside_ + "/dir").c_str()), 0);
  ASSERT_EQ(symlink((outside_ + "/dir").c_str(), (root_ + "/dir").c_str()), 0);
  EXPECT_EQ(sys_create_file("C:\\dir\\c.txt"), invalid_file);
  EXPECT_FALSE(exists(outside_ + "/dir/c.txt"));
  // A file of that name that exists is replaced the general way.
  ASSERT_EQ(unlink((root_ + "/dir").c_str()), 0);
  ASSERT_EQ(rename((outside_ + "/dir").c_str(), (root_ + "/dir").c_str()), 0);
  write_file(root_ + "/dir/a.txt", "old contents");
  file = sys_create_file("C:\\dir\\a.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/dir/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

TEST_F(PosixSeam, TheWayToTheExtractionDirectoryCanBeCreated) {
  std::string extract = outside_ + "/new/deep/out";
  posix_set_extract_dir(extract.c_str(), 1);
  EXPECT_EQ(sys_create_directory((outside_ + "/new").c_str()), 1);
  EXPECT_EQ(sys_create_directory((outside_ + "/new/deep").c_str()), 1);
  EXPECT_EQ(sys_create_directory(extract.c_str()), 1);
  EXPECT_EQ(sys_create_directory((extract + "/sub").c_str()), 1);
  EXPECT_EQ(sys_create_directory(extract.c_str()), 0);  // exists
  // Only folders on the way: no file there, no folder beside it.
  EXPECT_EQ(sys_create_file((outside_ + "/new/f.txt").c_str()), invalid_file);
  EXPECT_EQ(sys_create_directory((outside_ + "/new/side").c_str()), 0);
  EXPECT_FALSE(exists(outside_ + "/new/side"));
  FileHandle file = sys_create_file((extract + "/sub/f.txt").c_str());
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
}

TEST_F(PosixSeam, ShiftJisNamesBecomeUtf8AndBack) {
  // "\x83\x5C" is KATAKANA SO, whose trail byte is a backslash.
  EXPECT_EQ(posix_to_utf8("\x83\x5C"), "\xE3\x82\xBD");
  EXPECT_EQ(posix_map_path("C:\\\x83\x5C\\a.txt"), root_ + "/\xE3\x82\xBD/a.txt");
  EXPECT_EQ(posix_from_utf8("\xE3\x82\xBD/\xE6\x97\xA5"), "\x83\x5C/\x93\xFA");
  // Bytes without a character keep their Latin-1 code point, both ways.
  EXPECT_EQ(posix_to_utf8("a\xFD"), "a\xC3\xBD");
  EXPECT_EQ(posix_from_utf8("a\xC3\xBD"), "a\xFD");
  // A lead byte without its trail byte.
  EXPECT_EQ(posix_to_utf8("x\x83"), "x\xC2\x83");
  // Characters the code page lacks, and bytes that are not UTF-8.
  EXPECT_EQ(posix_from_utf8("\xF0\x9F\x98\x80!"), "?!");
  EXPECT_EQ(posix_from_utf8("\xFF/"), "\xFF/");
  // A member file written under its UTF-8 name.
  FileHandle file = sys_create_file("C:\\\x93\xFA\x96\x7B.txt");
  ASSERT_NE(file, invalid_file);
  sys_close_file(file);
  EXPECT_TRUE(exists(root_ + "/\xE6\x97\xA5\xE6\x9C\xAC.txt"));
}

TEST_F(PosixSeam, CodePagesChooseLeadBytesAndLowerCase) {
  EXPECT_EQ(posix_code_page(), 932u);
  EXPECT_TRUE(sys_is_lead_byte(0x81));
  EXPECT_TRUE(sys_is_lead_byte(0x9F));
  EXPECT_FALSE(sys_is_lead_byte(0xA0));
  EXPECT_FALSE(sys_is_lead_byte(0xDF));
  EXPECT_TRUE(sys_is_lead_byte(0xE0));
  EXPECT_TRUE(sys_is_lead_byte(0xFC));
  EXPECT_FALSE(sys_is_lead_byte(0xFD));
  EXPECT_FALSE(sys_is_lead_byte('A'));
  // Lower case never touches a trail byte.
  char text[] = "AB\x83\x41Z\x82\x60";
  sys_lower_text(text);
  EXPECT_STREQ(text, "ab\x83\x41z\x82\x60");
  EXPECT_EQ(sys_lower_char(0xC0), 0xC0);
  // CharPrevA steps over a double-byte character whole.
  const char* s =
      "a\x83\x5C"
      "b";
  EXPECT_EQ(sys_char_prev(s, s + 3), s + 1);
  EXPECT_EQ(sys_char_prev(s, s + 1), s);
  EXPECT_EQ(sys_char_prev(s, s), s);

  ASSERT_EQ(posix_set_code_page(1252), 1);
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(sys_is_lead_byte(uint8_t(b))) << b;
  EXPECT_EQ(sys_lower_char(0xC0), 0xE0);
  EXPECT_EQ(sys_lower_char(0xDE), 0xFE);
  EXPECT_EQ(sys_lower_char(0xD7), 0xD7);  // multiplication sign
  EXPECT_EQ(sys_lower_char(0x8A), 0x9A);
  EXPECT_EQ(sys_lower_char(0x9F), 0xFF);
  EXPECT_EQ(posix_to_utf8("\xE9\x80"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(posix_map_path("C:\\a\\b"), root_ + "/a/b");

  ASSERT_EQ(posix_set_code_page(936), 1);
  EXPECT_TRUE(sys_is_lead_byte(0xFE));
  EXPECT_FALSE(sys_is_lead_byte(0xFF));
  // Unknown or unsuitable code pages leave the one in force.
  EXPECT_EQ(posix_set_code_page(65001), 0);
  EXPECT_EQ(posix_set_code_page(4242), 0);
  EXPECT_EQ(posix_set_code_page(37), 0);  // EBCDIC keeps no ASCII
  EXPECT_EQ(posix_code_page(), 936u);
}

TEST_F(PosixSeam, WindowsDirectoriesEnvironmentAndRegistry) {
  char out[300];
  EXPECT_EQ(sys_windows_directory(out, sizeof out), 10u);
  EXPECT_STREQ(out, "C:\\WINDOWS");
  EXPECT_EQ(sys_system_directory(out, sizeof out), 17u);
  EXPECT_STREQ(out, "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(sys_system_directory(out, 17), 18u);  // the size needed
  EXPECT_STREQ(out, "");
  EXPECT_EQ(sys_current_directory(out, sizeof out), cwd().size());
  EXPECT_EQ(std::string(out), cwd());

  ASSERT_EQ(setenv("KOBRIX_TEST_VALUE", "\xE3\x82\xBD", 1), 0);
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, sizeof out), 2u);
  EXPECT_STREQ(out, "\x83\x5C");
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, 2), 3u);
  unsetenv("KOBRIX_TEST_VALUE");
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, sizeof out), 0u);

  EXPECT_EQ(sys_read_registry_string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                     "ProgramFilesDir", out, 256),
            1);
  EXPECT_STREQ(out, "C:\\Program Files");
  EXPECT_EQ(sys_read_registry_string("SOFTWARE\\Other", "ProgramFilesDir", out, 256), 0);
  EXPECT_EQ(sys_is_win32s(), 0);
}

TEST_F(PosixSeam, SearchFindsFilesInTheSystemDirectory) {
  ASSERT_EQ(mkdir((root_ + "/WINDOWS").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root_ + "/WINDOWS/SYSTEM").c_str(), 0755), 0);
  write_file(root_ + "/WINDOWS/SYSTEM/kobrixtest.dll", "x");
  char out[256];
  char* file_part = nullptr;
  uint32_t n = sys_search_path("kobrixtest.dll", out, sizeof out, &file_part);
  EXPECT_STREQ(out, "C:\\WINDOWS\\SYSTEM\\kobrixtest.dll");
  EXPECT_EQ(n, strlen(out));
  EXPECT_STREQ(file_part, "kobrixtest.dll");
  EXPECT_EQ(sys_search_path("kobrixtest.dll", out, 10, &file_part), n + 1);
  EXPECT_EQ(sys_search_path("kobrix_absent.dll", out, sizeof out, &file_part), 0u);

  char title[64];
  EXPECT_EQ(sys_file_title("C:/Program Files/App/Read Me.txt", title, sizeof title), 0);
  EXPECT_STREQ(title, "Read Me.txt");
  EXPECT_EQ(sys_file_title("C:\\\x83\x5C", title, sizeof title), 0);
  EXPECT_STREQ(title, "\x83\x5C");
  EXPECT_EQ(sys_file_title("readme.txt", title, 5), 11);
  EXPECT_LT(sys_file_title("C:\\dir\\", title, sizeof title), 0);
}

TEST_F(PosixSeam, ReadOnlyIsTheWriteBits) {
  write_file(root_ + "/ro.txt", "old");
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), 0x20u);
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_read_only | 0x20), 1);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), uint32_t(attr_read_only));
  // A read-only file is not replaced, even for root.
  EXPECT_EQ(sys_create_file("C:\\ro.txt"), invalid_file);
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_normal), 1);
  ASSERT_EQ(stat((root_ + "/ro.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u);
  FileHandle file = sys_create_file("C:\\ro.txt");
  EXPECT_NE(file, invalid_file);
  sys_close_file(file);

  ASSERT_EQ(mkdir((root_ + "/dir").c_str(), 0755), 0);
  EXPECT_EQ(sys_get_file_attributes("C:\\dir"), uint32_t(attr_directory));
  EXPECT_EQ(sys_get_file_attributes("C:\\absent"), attr_invalid);
  // A directory does not open as a file.
  EXPECT_EQ(sys_open_existing_file("C:\\dir"), invalid_file);
  EXPECT_EQ(sys_open_existing_file("C:\\absent"), invalid_file);
}

TEST_F(PosixSeam, FileTimesReachTheFile) {
  FileHandle file = sys_create_file("C:\\t.txt");
  ASSERT_NE(file, invalid_file);
  uint32_t written = 0;
  EXPECT_EQ(sys_write_file(file, "abc", 3, &written), 1);
  EXPECT_EQ(written, 3u);
  // 2001-02-03 04:05:06 UTC and 2002-01-01 00:00:00 UTC.
  const uint64_t w = (981173106ull * 10000000) + 116444736000000000ull;
  const uint64_t a = (1009843200ull * 10000000) + 116444736000000000ull + 5;
  FileTime created = {1, 0};
  FileTime accessed = {uint32_t(a), uint32_t(a >> 32)};
  FileTime last = {uint32_t(w), uint32_t(w >> 32)};
  EXPECT_EQ(sys_set_file_time(file, &created, &accessed, &last), 1);
  FileTime back = {0, 0};
  EXPECT_EQ(sys_get_file_time(file, nullptr, nullptr, &back), 1);
  EXPECT_EQ((uint64_t(back.high) << 32) | back.low, w);
  // A zero time leaves the time as it is.
  FileTime zero = {0, 0};
  EXPECT_EQ(sys_set_file_time(file, nullptr, &zero, &zero), 1);
  EXPECT_EQ(sys_close_file(file), 1);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/t.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 981173106);
  EXPECT_EQ(st.st_atim.tv_sec, 1009843200);
  EXPECT_EQ(st.st_atim.tv_nsec, 500);
  EXPECT_EQ(st.st_size, 3);

  FileHandle read = sys_open_existing_file("C:\\t.txt");
  ASSERT_NE(read, invalid_file);
  FileTime got = {0, 0};
  EXPECT_EQ(sys_get_file_time(read, nullptr, nullptr, &got), 1);
  EXPECT_EQ((uint64_t(got.high) << 32) | got.low, w);
  sys_close_file(read);
}

TEST_F(PosixSeam, TheOwnFileIsReadWhereverItLies) {
  std::string own = outside_ + "/setup.exe";
  write_file(own, "0123456789");
  posix_set_module_path(own.c_str());
  char path[260];
  ASSERT_EQ(sys_module_path(path, sizeof path), own.size());
  EXPECT_EQ(std::string(path), own);
  EXPECT_EQ(sys_module_path(path, 5), 5u);  // cut, as the system does
  ASSERT_EQ(sys_module_path(path, sizeof path), own.size());
  FileHandle file = sys_open_own_file(path);
  ASSERT_NE(file, invalid_file);
  EXPECT_EQ(sys_seek_own_file(file, 0, seek_end), 10);
  EXPECT_EQ(sys_seek_own_file(file, 4, seek_begin), 4);
  char buffer[16] = {};
  EXPECT_EQ(sys_read_own_file(file, buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "456789");
  EXPECT_EQ(sys_read_own_file(file, buffer, sizeof buffer), 0);
  EXPECT_EQ(sys_seek_own_file(file, -20, seek_current), -1);
  sys_close_own_file(file);
  EXPECT_EQ(sys_open_own_file((outside_ + "/absent.exe").c_str()), invalid_file);
}

TEST_F(PosixSeam, ComponentLengthComesFromTheVolume) {
  EXPECT_EQ(sys_max_component_length("C:\\"), 255u);
  posix_set_extract_dir("C:\\not\\yet\\made", 0);
  EXPECT_EQ(sys_max_component_length(nullptr), 255u);
}

TEST(PosixTimes, SystemTimeAndFileTimeConvertLikeTheSystem) {
  SystemTime st = {1970, 1, 0, 1, 0, 0, 0, 0};
  FileTime ft;
  ASSERT_EQ(sys_systemtime_to_filetime(&st, &ft), 1);
  EXPECT_EQ((uint64_t(ft.high) << 32) | ft.low, 116444736000000000ull);
  st = {1601, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(sys_systemtime_to_filetime(&st, &ft), 1);
  EXPECT_EQ(ft.low | ft.high, 0u);

  const SystemTime invalid[] = {{1600, 12, 0, 31, 0, 0, 0, 0}, {30828, 1, 0, 1, 0, 0, 0, 0},
                                {1900, 2, 0, 29, 0, 0, 0, 0},  {2001, 13, 0, 1, 0, 0, 0, 0},
                                {2001, 4, 0, 31, 0, 0, 0, 0},  {2001, 1, 0, 0, 0, 0, 0, 0},
                                {2001, 1, 0, 1, 24, 0, 0, 0},  {2001, 1, 0, 1, 0, 60, 0, 0},
                                {2001, 1, 0, 1, 0, 0, 60, 0},  {2001, 1, 0, 1, 0, 0, 0, 1000}};
  for (const SystemTime& bad : invalid)
    EXPECT_EQ(sys_systemtime_to_filetime(&bad, &ft), 0) << bad.wYear << "-" << bad.wMonth;

  // Round trips through leap days and the ends of the range.
  const SystemTime good[] = {{2000, 2, 2, 29, 23, 59, 59, 999},
                             {1980, 1, 2, 1, 0, 0, 0, 0},
                             {2038, 1, 2, 19, 3, 14, 8, 0},
                             {2100, 3, 1, 1, 12, 0, 0, 0},
                             {30827, 12, 5, 31, 23, 59, 59, 999}};
  for (const SystemTime& in : good) {
    ASSERT_EQ(sys_systemtime_to_filetime(&in, &ft), 1);
    SystemTime out;
    ASSERT_EQ(sys_filetime_to_systemtime(&ft, &out), 1);
    EXPECT_EQ(memcmp(&in, &out, sizeof in), 0)
        << out.wYear << "-" << out.wMonth << "-" << out.wDay << " dow " << out.wDayOfWeek;
  }
  // 2001-02-03 04:05:06 UTC was a Saturday.
  const uint64_t value = 981173106ull * 10000000 + 116444736000000000ull;
  ft = {uint32_t(value), uint32_t(value >> 32)};
  SystemTime out;
  ASSERT_EQ(sys_filetime_to_systemtime(&ft, &out), 1);
  EXPECT_EQ(out.wYear, 2001);
  EXPECT_EQ(out.wMonth, 2);
  EXPECT_EQ(out.wDay, 3);
  EXPECT_EQ(out.wDayOfWeek, 6);
  EXPECT_EQ(out.wHour, 4);
  EXPECT_EQ(out.wMinute, 5);
  EXPECT_EQ(out.wSecond, 6);
  ft = {0, 0x80000000u};
  EXPECT_EQ(sys_filetime_to_systemtime(&ft, &out), 0);
}

}  // namespace
