// Code page 932 converts with built-in tables; the C library's converter, with the
// same fallback, must give the same text.
#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"

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
