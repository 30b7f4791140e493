// The member header reader: what it accepts, what it refuses and with which
// message, and the names it builds.
#include "archive/archive.h"
#include "platform/posix/posix_config.h"
#include "support_decode.h"

using Ext = std::pair<uint8_t, Bytes>;

// A level-2 header with the extended headers in the order given; the header
// CRC extension is added last unless add_crc is false.
Bytes make_header(const char* method, std::vector<Ext> exts, bool add_crc = true) {
  if (add_crc) exts.push_back({0x00, {0, 0}});
  Bytes h(24, 0);
  std::copy(method, method + 5, h.begin() + 2);
  h[20] = 2;
  size_t crc_at = 0;
  for (const auto& [type, data] : exts) {  // its size, type and data
    const size_t size = data.size() + 3;
    h.insert(h.end(), {uint8_t(size), uint8_t(size >> 8), type});
    if (type == 0) crc_at = h.size();
    h.insert(h.end(), data.begin(), data.end());
  }
  h.insert(h.end(), {0, 0});
  h[0] = uint8_t(h.size()), h[1] = uint8_t(h.size() >> 8);
  const uint16_t crc = crc16_bitwise(h.data(), h.size());
  if (crc_at != 0) h[crc_at] = uint8_t(crc), h[crc_at + 1] = uint8_t(crc >> 8);
  return h;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class HeaderTest : public DecodeTest {
 protected:
  void SetUp() override {
    DecodeTest::SetUp();
    ASSERT_EQ(posix_set_code_page(932), 1);
  }
  void TearDown() override {
    if (wa != nullptr && wa->header != nullptr) sys_free(wa->header);
    if (wa != nullptr) wa->header = nullptr;
    DecodeTest::TearDown();
  }
  // The archive at offset of the program's own file.
  void open_at(const Bytes& file, uint32_t offset = 0) {
    open_archive(file);
    wa->settings.archive_offset = offset;
    ASSERT_TRUE(locate_archive());
  }
  // Reads one header; the messages shown go to *shown.
  HeaderResult read_one(std::string* shown) {
    ::testing::internal::CaptureStderr();
    HeaderResult r = read_member_header();
    *shown = ::testing::internal::GetCapturedStderr();
    return r;
  }
  // The one header of an archive.
  HeaderResult read_only_header(Bytes h, std::string* shown) {
    h.push_back(0);
    open_at(h);
    return read_one(shown);
  }
};

TEST_F(HeaderTest, ArchiveEndsCleanlyOrNotAtAll) {
  Bytes archive = make_header("-lh0-", {{0x01, text("a.txt")}});
  open_at(archive);  // the file's end closes the archive as a zero byte does
  std::string shown;
  EXPECT_EQ(read_one(&shown), header_ready);
  EXPECT_STREQ(wa->member_name, "a.txt");
  EXPECT_EQ(read_one(&shown), header_end);
  EXPECT_EQ(shown, "");
  // An archive offset at the file's end is an empty archive; one more is none.
  open_at(Bytes(100, 0), 100);
  EXPECT_EQ(read_one(&shown), header_end);
  wa->settings.archive_offset = 101;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(locate_archive());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("archive.bin\" Unexpeted EOF"),
            std::string::npos);
  EXPECT_EQ(wa->aborted, 1);
}

TEST_F(HeaderTest, RefusesBadMethodsCrcBoundsAndSizes) {
  Bytes flipped = make_header("-lh5-", {{0x01, text("x")}});
  flipped[flipped.size() - 4] ^= 1;  // a bit of the stored header CRC
  Bytes beyond = make_header("-lh5-", {{0x01, text("x")}});
  beyond[24] = 200;  // the first extension runs past the header
  const std::pair<Bytes, const char*> refused[] = {
      {make_header("-lh1-", {{0x01, text("x")}}), "Bad header"},
      {make_header("-lh8-", {{0x01, text("x")}}), "Bad header"},
      {make_header("-lh5-", {{0x01, text("x")}}, false), "Bad header"},  // no CRC
      {flipped, "Bad header"},
      {beyond, "Bad header"},
      {{5, 0, '-', 'l', 'h'}, "Bad header"},
      // A name longer than its 259 characters is refused, not cut.
      {make_header("-lh0-", {{0x02, Bytes(200, 'd')}, {0x01, Bytes(59, 'f')}}), "Bad header"},
      {{0x00, 0x80, 0, 0, 0, 0}, "Not enough memory"},
  };
  for (const auto& [h, message] : refused) {
    std::string shown;
    EXPECT_EQ(read_only_header(h, &shown), header_failed);
    EXPECT_NE(shown.find(message), std::string::npos) << shown;
  }
}

TEST_F(HeaderTest, JoinsDirectoryAndFileNames) {
  const std::pair<std::vector<Ext>, std::string> cases[] = {
      // "\x83\x5c" is one double-byte character whose trail byte is a backslash.
      {{{0x02, text("\x83\x5c")}, {0x01, text("x")}}, "\x83\x5c/x"},
      // The CRC extension may come first.
      {{{0x00, {0, 0}}, {0x01, text("first.txt")}}, "first.txt"},
      {{{0x02, Bytes(199, 'd')}, {0x01, Bytes(59, 'f')}},
       std::string(199, 'd') + "/" + std::string(59, 'f')},
  };
  for (const auto& [exts, name] : cases) {
    std::string shown;
    bool crc_given = exts[0].first == 0x00;
    ASSERT_EQ(read_only_header(make_header("-lh0-", exts, !crc_given), &shown), header_ready)
        << name;
    EXPECT_EQ(wa->member_name, name);
  }
}
