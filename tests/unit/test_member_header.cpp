// The member header reader and the scan over the archive: what it accepts,
// what it refuses and with which message, and the names it builds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "decode/decode.h"
#include "platform/posix/posix_config.h"
#include "startup/startup.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t crc16(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

struct Ext {
  uint8_t type;
  Bytes data;
};

// A level-2 header with the extended headers in the order given; the header
// CRC extension is added last unless one is given.
Bytes header(const char* method, std::vector<Ext> exts, uint8_t os = 'W', uint32_t time = 1000000,
             bool add_crc = true) {
  if (add_crc) exts.push_back({0x00, {0, 0}});
  Bytes h(24, 0);
  h[2] = uint8_t(method[0]);
  for (int i = 0; i < 5; ++i) h[2 + i] = uint8_t(method[i]);
  for (int i = 0; i < 4; ++i) h[15 + i] = uint8_t(time >> (8 * i));
  h[19] = 0x20;
  h[20] = 2;
  h[23] = os;
  size_t crc_at = 0;
  h.push_back(0);
  h.push_back(0);
  put16(h, 24, exts.empty() ? 0 : uint16_t(exts[0].data.size() + 3));
  for (size_t i = 0; i < exts.size(); ++i) {
    h.push_back(exts[i].type);
    if (exts[i].type == 0) crc_at = h.size();
    h.insert(h.end(), exts[i].data.begin(), exts[i].data.end());
    h.push_back(0);
    h.push_back(0);
    put16(h, h.size() - 2, i + 1 < exts.size() ? uint16_t(exts[i + 1].data.size() + 3) : 0);
  }
  put16(h, 0, uint16_t(h.size()));
  if (crc_at != 0) put16(h, crc_at, crc16(h));
  return h;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kobrix_header_XXXXXX";
    folder_ = mkdtemp(pattern);
    posix_set_root(folder_.c_str());
    posix_set_code_page(932);
    wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
    text_copy(wa->settings.window_title, "Test", sizeof(wa->settings.window_title));
    path_ = folder_ + "/setup.exe";
    text_copy(wa->module_path, path_.c_str(), path_size);
    build_crc_table(crc_polynomial);
  }
  void TearDown() override {
    if (wa->archive_file > 0) sys_close_own_file(wa->archive_file);
    if (wa->header != nullptr) sys_free(wa->header);
    sys_free(wa);
    wa = nullptr;
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  // The archive bytes as the program's own file, opened behind the settings.
  void open_archive(const Bytes& archive, uint32_t offset = 0) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(archive.data(), 1, archive.size(), f);
    std::fclose(f);
    wa->settings.archive_offset = offset;
    wa->archive_file = sys_open_own_file(wa->module_path);
    ASSERT_NE(wa->archive_file, invalid_file);
    ASSERT_TRUE(locate_archive());
  }

  // Reads one header; the messages shown go to *shown.
  HeaderResult read_one(std::string* shown) {
    ::testing::internal::CaptureStderr();
    HeaderResult r = read_member_header();
    *shown = ::testing::internal::GetCapturedStderr();
    return r;
  }

  std::string folder_;
  std::string path_;
};

TEST_F(HeaderTest, ArchiveEndsCleanlyInEveryForm) {
  Bytes one = header("-lh0-", {{0x01, text("a.txt")}});
  for (Bytes end : {Bytes{0}, Bytes{0, 0}, Bytes{}}) {
    Bytes archive = one;
    archive.insert(archive.end(), end.begin(), end.end());
    open_archive(archive);
    std::string shown;
    EXPECT_EQ(read_one(&shown), header_ready);
    EXPECT_STREQ(wa->member_name, "a.txt");
    EXPECT_EQ(read_one(&shown), header_end);
    EXPECT_EQ(shown, "");
    sys_close_own_file(wa->archive_file);
  }
}

TEST_F(HeaderTest, ArchiveOffsetAtTheEndIsEmptyOneMoreIsUnexpectedEof) {
  open_archive(Bytes(100, 0), 100);
  std::string shown;
  EXPECT_EQ(read_one(&shown), header_end);
  sys_close_own_file(wa->archive_file);
  wa->settings.archive_offset = 101;
  wa->archive_file = sys_open_own_file(wa->module_path);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(locate_archive());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Unexpeted EOF"), std::string::npos);
  EXPECT_EQ(wa->aborted, 1);
}

TEST_F(HeaderTest, RefusesBadMethodsCrcAndBounds) {
  Bytes good = header("-lh5-", {{0x01, text("x")}});
  Bytes flipped = good;
  flipped[flipped.size() - 4] ^= 1;  // a bit of the stored header CRC
  Bytes beyond = good;
  put16(beyond, 24, 200);  // the first extension runs past the header
  Bytes tiny = {5, 0, '-', 'l', 'h'};
  std::vector<Bytes> bad = {header("-lh1-", {{0x01, text("x")}}),
                            header("-lh8-", {{0x01, text("x")}}),
                            header("-lz5-", {{0x01, text("x")}}),
                            header("-lh5-", {{0x01, text("x")}}, 'W', 0, false),
                            flipped,
                            beyond,
                            tiny};
  for (const Bytes& h : bad) {
    Bytes archive = h;
    archive.push_back(0);
    open_archive(archive);
    std::string shown;
    EXPECT_EQ(read_one(&shown), header_failed);
    EXPECT_NE(shown.find("Bad header"), std::string::npos) << shown;
    sys_close_own_file(wa->archive_file);
  }
}

TEST_F(HeaderTest, AcceptsTheCrcExtensionAnywhere) {
  Bytes h = header("-lh0-", {{0x00, {0, 0}}, {0x01, text("first.txt")}}, 'W', 1000, false);
  h.push_back(0);
  open_archive(h);
  std::string shown;
  EXPECT_EQ(read_one(&shown), header_ready);
  EXPECT_STREQ(wa->member_name, "first.txt");
}

TEST_F(HeaderTest, HugeHeaderSizeIsNotEnoughMemory) {
  open_archive(Bytes{0x00, 0x80, 0, 0, 0, 0});
  std::string shown;
  EXPECT_EQ(read_one(&shown), header_failed);
  EXPECT_NE(shown.find("Not enough memory"), std::string::npos) << shown;
}

TEST_F(HeaderTest, WindowsTimesOnlyForWindowsSystems) {
  Bytes times(24, 0);
  // 2010-01-01 00:00:00 UTC as FILETIME, for all three.
  uint64_t ft = (1262304000ull + 11644473600ull) * 10000000ull;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 8; ++i) times[8 * k + i] = uint8_t((ft + k * 20000000ull) >> (8 * i));
  for (uint8_t os : {uint8_t('U'), uint8_t('W')}) {
    Bytes h = header("-lh0-", {{0x01, text("t")}, {0x41, times}}, os, 777777);
    h.push_back(0);
    open_archive(h);
    std::string shown;
    ASSERT_EQ(read_one(&shown), header_ready);
    if (os == 'U') {
      EXPECT_EQ(wa->time_created, 777777);
      EXPECT_EQ(wa->time_written, 777777);
      EXPECT_EQ(wa->time_accessed, 777777);
    } else {
      EXPECT_EQ(wa->time_created, 1262304000);
      EXPECT_EQ(wa->time_written, 1262304002);
      EXPECT_EQ(wa->time_accessed, 1262304004);
    }
    sys_close_own_file(wa->archive_file);
  }
}

TEST_F(HeaderTest, JoinsDirectoryAndFileNames) {
  struct Case {
    std::vector<Ext> exts;
    const char* name;
  } cases[] = {
      {{{0x02, text("docs\xff")}, {0x01, text("a.txt")}}, "docs/a.txt"},
      {{{0x01, text("a.txt")}}, "a.txt"},
      {{{0x02, text("sub\xffsub2")}, {0x01, text("h.txt")}}, "sub/sub2/h.txt"},
      {{{0x02, text("docs\xff")}}, "docs/"},
      {{{0x02, text("a\\b/")}, {0x01, text("c")}}, "a/b/c"},
      // "\x83\x5c" is one double-byte character whose trail byte is a backslash.
      {{{0x02, text("\x83\x5c")}, {0x01, text("x")}}, "\x83\x5c/x"},
  };
  for (const Case& c : cases) {
    Bytes h = header("-lh0-", c.exts);
    h.push_back(0);
    open_archive(h);
    std::string shown;
    ASSERT_EQ(read_one(&shown), header_ready) << c.name;
    EXPECT_STREQ(wa->member_name, c.name);
    sys_close_own_file(wa->archive_file);
  }
}

TEST_F(HeaderTest, NameLongerThanItsRoomIsRefused) {
  Bytes h = header("-lh0-", {{0x02, Bytes(200, 'd')}, {0x01, Bytes(59, 'f')}});
  h.push_back(0);
  open_archive(h);
  std::string shown;
  EXPECT_EQ(read_one(&shown), header_failed);
  EXPECT_NE(shown.find("Bad header"), std::string::npos);
  Bytes fits = header("-lh0-", {{0x02, Bytes(199, 'd')}, {0x01, Bytes(59, 'f')}});
  fits.push_back(0);
  sys_close_own_file(wa->archive_file);
  open_archive(fits);
  EXPECT_EQ(read_one(&shown), header_ready);
  EXPECT_EQ(std::string(wa->member_name).size(), 259u);
}

}  // namespace
