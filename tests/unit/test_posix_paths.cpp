// The Linux side of the seam: path mapping, write containment, code pages,
// files, attributes and times.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "archive/archive.h"
#include "platform/platform.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

std::string cwd() {
  return fs::current_path().string();
}

// Creates the file through the seam and closes it; false when refused.
bool create(const std::string& path) {
  FileHandle file = sys_create_file(path.c_str());
  if (file == invalid_file) return false;
  EXPECT_NE(file, 0);
  EXPECT_EQ(sys_close_file(file), 1);
  return true;
}

uint64_t ticks(const FileTime& t) {
  return uint64_t(t.high) << 32 | t.low;
}

// A root and, beside it, a folder outside it; code page 932.
class PosixSeam : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kobrix_paths_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = fs::canonical(pattern).string();
    root_ = base_ + "/root";
    outside_ = base_ + "/outside";
    fs::create_directories(root_);
    fs::create_directories(outside_);
    ASSERT_EQ(posix_set_code_page(932), 1);
    posix_set_root(root_.c_str());
    posix_set_extract_dir("C:\\", 0);
  }
  void TearDown() override { fs::remove_all(base_); }
  std::string base_, root_, outside_;
};

TEST_F(PosixSeam, DrivesAndRootedPathsMapIntoTheRoot) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\WINDOWS\\SYSTEM", root_ + "/WINDOWS/SYSTEM"},
      {"d:/Setup/a.txt", root_ + "/Setup/a.txt"},
      {"C:", root_},
      {"C:file.txt", root_ + "/file.txt"},
      {"/etc/passwd", root_ + "/etc/passwd"},
      {"//server/share/x", root_ + "/server/share/x"},
      {root_ + "/a/b", root_ + "/a/b"},        // already below the root
      {root_ + "2/a", root_ + root_ + "2/a"},  // beside it, though its name begins alike
      {"a\\b/./c", root_ + "/a/b/c"},          // relative to C:\ with the archive's directory
      {"C:\\a\\..\\b", root_ + "/b"},
      // ".." stops at the root, in every spelling (more in the runner's tests).
      {"D:\\..\\..\\..", root_},
      {"c:/a/../../../x/..\\..\\y", root_ + "/y"},
      {"..\\victim", root_ + "/victim"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(posix_map_path(in.c_str()), out) << in;
  // With the user's directory, relative paths are the user's.
  posix_set_extract_dir("out", 1);
  EXPECT_EQ(posix_map_path("a\\b/./c"), cwd() + "/a/b/c");
}

TEST_F(PosixSeam, ExtractionDirectoryAndTheWayToItAreTakenAsTheyAre) {
  std::string extract = outside_ + "/new/out";
  posix_set_extract_dir(extract.c_str(), 1);
  EXPECT_EQ(posix_extract_dir(), extract);
  EXPECT_EQ(posix_map_path((extract + "/a.txt").c_str()), extract + "/a.txt");
  // Folders on the way stay where they are instead of moving below the root.
  EXPECT_EQ(posix_map_path(outside_.c_str()), outside_);
  EXPECT_EQ(posix_map_path((outside_ + "/other").c_str()), root_ + outside_ + "/other");
  // The archive's own rooted directory goes below the root.
  posix_set_extract_dir(extract.c_str(), 0);
  EXPECT_EQ(posix_map_path(outside_.c_str()), root_ + outside_);
  std::string backslashed = extract;  // as start-up hands it over
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  const std::tuple<std::string, int, std::string> cases[] = {
      {backslashed, 1, extract},
      {backslashed, 0, root_ + extract},
      {"out", 1, cwd() + "/out"},
      {"", 0, cwd()},
      // The archive's own directory never leaves the root (the runner's tests
      // try every spelling); the user's relative one may.
      {"C:\\..\\victim", 1, root_ + "/victim"},
      {"..\\victim", 0, root_ + "/victim"},
      {"..\\victim", 1, fs::path(cwd()).parent_path().string() + "/victim"},
  };
  for (const auto& [dir, from_user, mapped] : cases) {
    posix_set_extract_dir(dir.c_str(), from_user);
    EXPECT_EQ(posix_extract_dir(), mapped) << dir;
  }
}

TEST_F(PosixSeam, MembersLandBelowTheUsersOrTheArchivesDirectory) {
  // The pass creates every folder of a target path from the top, then the file.
  auto extract = [](const std::string& target) {
    create_parent_directories(target.c_str());
    return create(target);
  };
  // The user's directory beside the root: written there, and nothing new
  // appears below the root.
  std::string users = outside_ + "/dest";
  posix_set_extract_dir(users.c_str(), 1);
  EXPECT_TRUE(extract(users + "/docs/a.txt"));
  EXPECT_TRUE(exists(users + "/docs/a.txt"));
  EXPECT_FALSE(extract(users + "/../../escape.txt"));
  EXPECT_FALSE(exists(base_ + "/escape.txt"));
  EXPECT_FALSE(extract(users + "/x/../../sibling/b.txt"));
  EXPECT_FALSE(exists(outside_ + "/sibling"));
  EXPECT_TRUE(extract("/boot.ini"));
  EXPECT_TRUE(exists(root_ + "/boot.ini"));
  // The same text as the archive's default: everything below the root.
  posix_set_extract_dir(users.c_str(), 0);
  EXPECT_TRUE(extract(users + "/docs/b.txt"));
  EXPECT_TRUE(exists(root_ + users + "/docs/b.txt"));
  EXPECT_FALSE(exists(users + "/docs/b.txt"));
}

TEST_F(PosixSeam, WritesStayInsideTheRootAndTheExtractionDirectory) {
  EXPECT_EQ(sys_create_directory("C:\\..\\made"), 1);
  EXPECT_TRUE(exists(root_ + "/made"));
  EXPECT_FALSE(exists(base_ + "/made"));
  // The user's directory: a member that climbs out of it is refused.
  posix_set_extract_dir((root_ + "/user").c_str(), 1);
  errno = 0;
  EXPECT_EQ(sys_create_file((root_ + "/user/../../escape2.txt").c_str()), invalid_file);
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(base_ + "/escape2.txt"));
  // Nor is a file there looked at, which would ask before overwriting it.
  std::ofstream(base_ + "/seen.txt") << "seen";
  EXPECT_EQ(sys_get_file_attributes((root_ + "/user/../../seen.txt").c_str()), attr_invalid);
  // Deleting and attributes are held to the same rule.
  std::ofstream(outside_ + "/keep.txt") << "keep";
  posix_set_extract_dir((outside_ + "/out").c_str(), 1);
  EXPECT_EQ(sys_delete_file((outside_ + "/out/../keep.txt").c_str()), 0);
  EXPECT_TRUE(exists(outside_ + "/keep.txt"));
  EXPECT_EQ(sys_set_file_attributes((outside_ + "/out/../keep.txt").c_str(), attr_read_only), 0);
}

TEST_F(PosixSeam, SymbolicLinksDoNotLeadOutOfTheRoot) {
  ASSERT_EQ(symlink(outside_.c_str(), (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink((outside_ + "/missing").c_str(), (root_ + "/dangling").c_str()), 0);
  EXPECT_FALSE(create("C:\\link\\f.txt"));
  EXPECT_EQ(sys_create_directory("C:\\link\\sub"), 0);
  EXPECT_FALSE(create("C:\\dangling"));
  EXPECT_FALSE(exists(outside_ + "/f.txt"));
  EXPECT_FALSE(exists(outside_ + "/sub"));
  EXPECT_FALSE(exists(outside_ + "/missing"));
  // No link is followed, not even one that stays inside, neither on the way
  // nor at the end; nothing is read through one either.
  fs::create_directories(root_ + "/real");
  std::ofstream(root_ + "/real/t.txt") << "kept";
  ASSERT_EQ(symlink((root_ + "/real").c_str(), (root_ + "/inner").c_str()), 0);
  ASSERT_EQ(symlink((root_ + "/real/t.txt").c_str(), (root_ + "/t.txt").c_str()), 0);
  EXPECT_FALSE(create("C:\\inner\\f.txt"));
  EXPECT_FALSE(create("C:\\t.txt"));
  EXPECT_EQ(sys_delete_file("C:\\inner\\t.txt"), 0);
  EXPECT_EQ(sys_set_file_attributes("C:\\t.txt", attr_read_only), 0);
  EXPECT_EQ(sys_get_file_attributes("C:\\inner\\t.txt"), attr_invalid);
  EXPECT_EQ(sys_open_existing_file("C:\\t.txt"), invalid_file);
  EXPECT_FALSE(exists(root_ + "/real/f.txt"));
  EXPECT_EQ(fs::file_size(root_ + "/real/t.txt"), 4u);
  EXPECT_NE(fs::status(root_ + "/real/t.txt").permissions() & fs::perms::owner_write,
            fs::perms::none);
}

TEST_F(PosixSeam, AFolderMovedOutBetweenTwoFilesIsNotWrittenThrough) {
  // The second file in a folder is created by its name in the folder the
  // first one resolved; moved out of the root, with a link to it in its
  // place, the folder is not written through what was kept of it.
  fs::create_directories(root_ + "/dir");
  EXPECT_TRUE(create("C:\\dir\\a.txt"));
  EXPECT_TRUE(create("C:\\dir\\b.txt"));
  EXPECT_TRUE(exists(root_ + "/dir/b.txt"));
  ASSERT_EQ(rename((root_ + "/dir").c_str(), (outside_ + "/dir").c_str()), 0);
  ASSERT_EQ(symlink((outside_ + "/dir").c_str(), (root_ + "/dir").c_str()), 0);
  EXPECT_FALSE(create("C:\\dir\\c.txt"));
  EXPECT_FALSE(exists(outside_ + "/dir/c.txt"));
  ASSERT_EQ(unlink((root_ + "/dir").c_str()), 0);
  ASSERT_EQ(rename((outside_ + "/dir").c_str(), (root_ + "/dir").c_str()), 0);
  // Deleting a file and giving it its attributes act on the file created,
  // in the folder it was created in: a folder renamed with a link to a
  // folder outside in its place leads them nowhere else.
  std::ofstream(outside_ + "/d.txt") << "keep";
  FileHandle file = sys_create_file("C:\\dir\\d.txt");
  ASSERT_NE(file, invalid_file);
  ASSERT_EQ(sys_close_file(file), 1);
  ASSERT_EQ(rename((root_ + "/dir").c_str(), (root_ + "/moved").c_str()), 0);
  ASSERT_EQ(symlink(outside_.c_str(), (root_ + "/dir").c_str()), 0);
  EXPECT_EQ(sys_set_file_attributes("C:\\dir\\d.txt", attr_read_only), 1);
  EXPECT_EQ(fs::status(root_ + "/moved/d.txt").permissions() & fs::perms::owner_write,
            fs::perms::none);
  EXPECT_EQ(sys_delete_file("C:\\dir\\d.txt"), 1);
  EXPECT_FALSE(exists(root_ + "/moved/d.txt"));
  EXPECT_TRUE(exists(outside_ + "/d.txt"));
  EXPECT_NE(fs::status(outside_ + "/d.txt").permissions() & fs::perms::owner_write,
            fs::perms::none);
}

TEST_F(PosixSeam, AReplacedFileIsANewFile) {
  // A hard link in the extraction directory to a file elsewhere: replacing
  // it leaves that file's contents alone.
  std::ofstream(outside_ + "/victim.txt") << "victim";
  ASSERT_EQ(link((outside_ + "/victim.txt").c_str(), (root_ + "/a.txt").c_str()), 0);
  FileHandle file = sys_create_file("C:\\a.txt");
  ASSERT_NE(file, invalid_file);
  uint32_t written = 0;
  EXPECT_EQ(sys_write_file(file, "new", 3, &written), 1);
  EXPECT_EQ(sys_close_file(file), 1);
  std::string text;
  std::ifstream(outside_ + "/victim.txt") >> text;
  EXPECT_EQ(text, "victim");
  EXPECT_EQ(fs::hard_link_count(outside_ + "/victim.txt"), 1u);
  EXPECT_EQ(fs::file_size(root_ + "/a.txt"), 3u);
}

TEST_F(PosixSeam, TheWayToTheExtractionDirectoryCanBeCreated) {
  std::string extract = outside_ + "/new/deep/out";
  posix_set_extract_dir(extract.c_str(), 1);
  for (const std::string& dir :
       {outside_ + "/new", outside_ + "/new/deep", extract, extract + "/sub"})
    EXPECT_EQ(sys_create_directory(dir.c_str()), 1) << dir;
  EXPECT_EQ(sys_create_directory(extract.c_str()), 0);  // exists
  // Only folders on the way: no file there, no folder beside it.
  EXPECT_FALSE(create(outside_ + "/new/f.txt"));
  EXPECT_EQ(sys_create_directory((outside_ + "/new/side").c_str()), 0);
  EXPECT_FALSE(exists(outside_ + "/new/side"));
  EXPECT_TRUE(create(extract + "/sub/f.txt"));
}

TEST_F(PosixSeam, ShiftJisNamesBecomeUtf8AndBack) {
  // The conversion itself is held against iconv in test_code_page_932.
  // "\x83\x5C" is KATAKANA SO, whose trail byte is a backslash.
  EXPECT_EQ(posix_map_path("C:\\\x83\x5C\\a.txt"), root_ + "/\xE3\x82\xBD/a.txt");
  // A member file is written under its UTF-8 name.
  EXPECT_TRUE(create("C:\\\x93\xFA\x96\x7B.txt"));
  EXPECT_TRUE(exists(root_ + "/\xE6\x97\xA5\xE6\x9C\xAC.txt"));
}

TEST_F(PosixSeam, CodePagesChooseLeadBytesAndLowerCase) {
  for (auto [byte, lead] :
       {std::pair{0x81, true}, {0x9F, true}, {0xA0, false}, {0xE0, true}, {0xFD, false}})
    EXPECT_EQ(sys_is_lead_byte(uint8_t(byte)) != 0, lead) << byte;
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
  // 0xD7 is the multiplication sign.
  for (auto [upper, lower] : {std::pair{0xC0, 0xE0}, {0xD7, 0xD7}, {0x9F, 0xFF}})
    EXPECT_EQ(sys_lower_char(uint8_t(upper)), lower) << upper;
  EXPECT_EQ(posix_to_utf8("\xE9\x80"), "\xC3\xA9\xE2\x82\xAC");

  ASSERT_EQ(posix_set_code_page(936), 1);
  EXPECT_TRUE(sys_is_lead_byte(0xFE));
  EXPECT_FALSE(sys_is_lead_byte(0xFF));
  // Unknown or unsuitable code pages leave the one in force.
  for (uint32_t refused : {1200u, 4242u, 37u})  // 37: EBCDIC keeps no ASCII
    EXPECT_EQ(posix_set_code_page(refused), 0) << refused;
  EXPECT_EQ(posix_code_page(), 936u);
  // UTF-8, as other tools write names: no lead bytes, the name as it stands.
  ASSERT_EQ(posix_set_code_page(65001), 1);
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(sys_is_lead_byte(uint8_t(b))) << b;
  EXPECT_EQ(posix_to_utf8("caf\xC3\xA9"), "caf\xC3\xA9");
}

// The directory, search and registry queries are met in the target path tests.
TEST_F(PosixSeam, SizesNeededEnvironmentAndFileTitles) {
  char out[300];
  EXPECT_EQ(sys_system_directory(out, sizeof out), 17u);
  EXPECT_STREQ(out, "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(sys_system_directory(out, 17), 18u);  // the size needed
  EXPECT_STREQ(out, "");

  ASSERT_EQ(setenv("KOBRIX_TEST_VALUE", "\xE3\x82\xBD", 1), 0);
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, sizeof out), 2u);
  EXPECT_STREQ(out, "\x83\x5C");
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, 2), 3u);
  unsetenv("KOBRIX_TEST_VALUE");
  EXPECT_EQ(sys_get_environment("KOBRIX_TEST_VALUE", out, sizeof out), 0u);

  EXPECT_EQ(sys_file_title("C:/Program Files/App/Read Me.txt", out, 64), 0);
  EXPECT_STREQ(out, "Read Me.txt");
  EXPECT_EQ(sys_file_title("C:\\\x83\x5C", out, 64), 0);
  EXPECT_STREQ(out, "\x83\x5C");
  EXPECT_EQ(sys_file_title("readme.txt", out, 5), 11);
  EXPECT_LT(sys_file_title("C:\\dir\\", out, 64), 0);
}

TEST_F(PosixSeam, ReadOnlyIsTheWriteBits) {
  std::string ro = root_ + "/ro.txt";
  std::ofstream(ro) << "old";
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), 0x20u);
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_read_only | 0x20), 1);
  struct stat st;
  ASSERT_EQ(stat(ro.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), uint32_t(attr_read_only));
  // A read-only file is not replaced, even for root.
  EXPECT_FALSE(create("C:\\ro.txt"));
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_normal), 1);
  EXPECT_NE(fs::status(ro).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(create("C:\\ro.txt"));

  fs::create_directories(root_ + "/dir");
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
  EXPECT_EQ(ticks(back), w);
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
}

TEST(PosixTimes, SystemTimeAndFileTimeConvertLikeTheSystem) {
  SystemTime st = {1970, 1, 0, 1, 0, 0, 0, 0};
  FileTime ft;
  ASSERT_EQ(sys_systemtime_to_filetime(&st, &ft), 1);
  EXPECT_EQ(ticks(ft), 116444736000000000ull);
  st = {1601, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(sys_systemtime_to_filetime(&st, &ft), 1);
  EXPECT_EQ(ticks(ft), 0u);

  // Round trips through leap days and the ends of the range; 2001-02-03
  // was a Saturday.
  const SystemTime good[] = {{2000, 2, 2, 29, 23, 59, 59, 999},
                             {2100, 3, 1, 1, 12, 0, 0, 0},
                             {30827, 12, 5, 31, 23, 59, 59, 999},
                             {2001, 2, 6, 3, 4, 5, 6, 0}};
  for (const SystemTime& in : good) {
    ASSERT_EQ(sys_systemtime_to_filetime(&in, &ft), 1);
    SystemTime out;
    ASSERT_EQ(sys_filetime_to_systemtime(&ft, &out), 1);
    EXPECT_EQ(memcmp(&in, &out, sizeof in), 0)
        << out.wYear << "-" << out.wMonth << "-" << out.wDay << " dow " << out.wDayOfWeek;
  }
  sys_systemtime_to_filetime(&good[3], &ft);
  EXPECT_EQ(ticks(ft), 981173106ull * 10000000 + 116444736000000000ull);
  ft = {0, 0x80000000u};
  EXPECT_EQ(sys_filetime_to_systemtime(&ft, &st), 0);
}

}  // namespace
