// The Linux side of the seam: path mapping, write containment, code pages
// (932's built-in tables against the C library's converter), files and
// attributes.
#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>
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
      {"d:/Setup/a.txt", root_ + "/Setup/a.txt"},
      {"C:file.txt", root_ + "/file.txt"},
      {"//server/share/x", root_ + "/server/share/x"},
      {root_ + "/a/b", root_ + "/a/b"},        // already below the root
      {root_ + "2/a", root_ + root_ + "2/a"},  // beside it, though its name begins alike
      {"a\\b/./c", root_ + "/a/b/c"},          // relative to C:\ with the archive's directory
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
  // Beside it, though its name begins alike: below the root.
  EXPECT_EQ(posix_map_path((extract + "2/a").c_str()), root_ + extract + "2/a");
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

TEST_F(PosixSeam, WritesStayBelowTheUsersOrTheArchivesDirectory) {
  // The pass creates every folder of a target path from the top, then the file.
  auto extract = [](const std::string& target) {
    create_parent_directories(target.c_str());
    return create(target);
  };
  // The user's directory beside the root: written there; a member that
  // climbs out of it is refused; nothing new appears below the root.
  std::string users = outside_ + "/dest";
  posix_set_extract_dir(users.c_str(), 1);
  EXPECT_TRUE(extract(users + "/docs/a.txt"));
  EXPECT_TRUE(exists(users + "/docs/a.txt"));
  errno = 0;
  EXPECT_FALSE(extract(users + "/x/../../escape.txt"));
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(exists(outside_ + "/escape.txt"));
  EXPECT_TRUE(extract("/boot.ini"));
  EXPECT_TRUE(exists(root_ + "/boot.ini"));
  // The same text as the archive's default: everything below the root.
  posix_set_extract_dir(users.c_str(), 0);
  EXPECT_TRUE(extract(users + "/docs/b.txt"));
  EXPECT_TRUE(exists(root_ + users + "/docs/b.txt"));
  EXPECT_EQ(sys_create_directory("C:\\..\\made"), 1);
  EXPECT_TRUE(exists(root_ + "/made"));
  // Nor is a file outside looked at (which would ask before overwriting
  // it), deleted or given attributes.
  std::ofstream(outside_ + "/keep.txt") << "keep";
  std::string climbs = users + "/../keep.txt";
  posix_set_extract_dir(users.c_str(), 1);
  EXPECT_EQ(sys_get_file_attributes(climbs.c_str()), attr_invalid);
  EXPECT_EQ(sys_delete_file(climbs.c_str()), 0);
  EXPECT_EQ(sys_set_file_attributes(climbs.c_str(), attr_read_only), 0);
  EXPECT_TRUE(exists(outside_ + "/keep.txt"));
}

TEST_F(PosixSeam, SymbolicLinksDoNotLeadOutOfTheRoot) {
  ASSERT_EQ(symlink(outside_.c_str(), (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink((outside_ + "/missing").c_str(), (root_ + "/dangling").c_str()), 0);
  EXPECT_FALSE(create("C:\\link\\f.txt"));
  EXPECT_EQ(sys_create_directory("C:\\link\\sub"), 0);
  EXPECT_FALSE(create("C:\\dangling"));
  EXPECT_TRUE(fs::is_empty(outside_));
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
  EXPECT_EQ(fs::file_size(root_ + "/real/t.txt"), 4u);
  EXPECT_NE(fs::status(root_ + "/real/t.txt").permissions() & fs::perms::owner_write,
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
  EXPECT_EQ(fs::file_size(outside_ + "/victim.txt"), 6u);
  EXPECT_EQ(fs::hard_link_count(outside_ + "/victim.txt"), 1u);
}

TEST_F(PosixSeam, CodePagesChooseLeadBytesLowerCaseAndNames) {
  // "\x83\x5C" is KATAKANA SO, whose trail byte is a backslash; names are
  // written in UTF-8 (the conversion is held against iconv elsewhere).
  EXPECT_EQ(posix_map_path("C:\\\x83\x5C\\a.txt"), root_ + "/\xE3\x82\xBD/a.txt");
  EXPECT_TRUE(create("C:\\\x93\xFA\x96\x7B.txt"));
  EXPECT_TRUE(exists(root_ + "/\xE6\x97\xA5\xE6\x9C\xAC.txt"));
  // Lower case never touches a trail byte; CharPrevA steps over a whole character.
  char text[] = "AB\x83\x41Z";
  sys_lower_text(text);
  EXPECT_STREQ(text, "ab\x83\x41z");
  EXPECT_EQ(sys_char_prev(text, text + 4), text + 2);

  // Unknown or unsuitable code pages leave the one in force.
  for (uint32_t refused : {1200u, 4242u, 37u})  // 37: EBCDIC keeps no ASCII
    EXPECT_EQ(posix_set_code_page(refused), 0) << refused;
  EXPECT_EQ(posix_code_page(), 932u);
}

TEST_F(PosixSeam, ReadOnlyIsTheWriteBits) {
  std::ofstream(root_ + "/ro.txt") << "old";
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), 0x20u);
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_read_only | 0x20), 1);
  EXPECT_EQ(fs::status(root_ + "/ro.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(sys_get_file_attributes("C:\\ro.txt"), uint32_t(attr_read_only));
  // A read-only file is not replaced, even for root.
  EXPECT_FALSE(create("C:\\ro.txt"));
  EXPECT_EQ(sys_set_file_attributes("C:\\ro.txt", attr_normal), 1);
  EXPECT_TRUE(create("C:\\ro.txt"));
  fs::create_directories(root_ + "/dir");
  EXPECT_EQ(sys_get_file_attributes("C:\\dir"), uint32_t(attr_directory));
  EXPECT_EQ(sys_open_existing_file("C:\\dir"), invalid_file);  // not a file
}

// iconv over text; a byte it cannot take is replaced by what fallback appends.
template <typename Fallback>
std::string reference(const char* to, const char* from, const std::string& text,
                      Fallback fallback) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, (iconv_t)-1);
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    char* in = const_cast<char*>(text.data()) + at;
    size_t left = text.size() - at;
    char buffer[256];
    char* out_p = buffer;
    size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t rc = iconv(cd, &in, &left, &out_p, &room);
    out.append(buffer, size_t(out_p - buffer));
    at = text.size() - left;
    if (rc == size_t(-1) && errno != E2BIG) at += fallback(out, text, at);
  }
  iconv_close(cd);
  return out;
}

size_t latin1(std::string& out, const std::string& text, size_t at) {
  posix_append_utf8(out, uint8_t(text[at]));
  return 1;
}

// Lead bytes with good, bad and missing trail bytes, half-width kana and
// unmapped bytes; and every double-byte character back.
TEST(CodePage932, BothWaysMatchTheConverter) {
  ASSERT_EQ(posix_set_code_page(932), 1);
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    for (int trail = 1; trail < 256; ++trail) {
      const std::string text{char(lead), char(trail), 'x'};
      ASSERT_EQ(posix_to_utf8(text.c_str()), reference("UTF-8", "CP932", text, latin1))
          << std::hex << lead << " " << trail;
    }
  }
  for (int byte = 0x80; byte < 256; ++byte) {  // a byte alone at the end
    const std::string text{'a', char(byte)};
    ASSERT_EQ(posix_to_utf8(text.c_str()), reference("UTF-8", "CP932", text, latin1)) << byte;
  }
  // Back: every character of the code page (beyond Latin-1), as the converter takes it back.
  for (int lead = 0x81; lead <= 0xFC; ++lead)
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      const std::string utf8 = reference("UTF-8", "CP932", {char(lead), char(trail)}, latin1);
      uint32_t cp = 0;
      const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
      if (posix_decode_utf8(bytes, utf8.size(), &cp) != utf8.size() || cp < 0x100) continue;
      ASSERT_EQ(posix_from_utf8(utf8.c_str()), reference("CP932", "UTF-8", utf8, latin1))
          << std::hex << lead << " " << trail;
    }
  // U+0100 is not in the code page; U+1F600 beyond its reach.
  EXPECT_EQ(posix_from_utf8("\xC4\x80\xF0\x9F\x98\x80"), "??");
}
