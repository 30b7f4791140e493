// Writes the runner's built-in tables for code page 932 (Shift-JIS as Windows has it),
// taken from the C library's converter at build time. The runner then converts names
// without loading a converter at run time, which in a statically linked program brings
// a second C library into memory.
//
//   make_cp932_table OUT.cpp
#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool is_lead(int b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The one UTF-16 unit bytes[0 .. n) convert to, or 0 when they do not convert.
uint32_t to_unicode(iconv_t cd, const unsigned char* bytes, size_t n) {
  char in[2] = {char(bytes[0]), char(n > 1 ? bytes[1] : 0)};
  char out[8];
  char* in_p = in;
  size_t in_left = n;
  char* out_p = out;
  size_t out_left = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == size_t(-1) || in_left != 0) return 0;
  if (sizeof out - out_left != 2) return 0;
  return uint32_t(uint8_t(out[0])) | uint32_t(uint8_t(out[1])) << 8;
}

// The bytes code point cp converts to (one or two, as a number), or 0.
uint32_t from_unicode(iconv_t cd, uint32_t cp) {
  char in[2] = {char(cp & 0xFF), char(cp >> 8)};
  char out[8];
  char* in_p = in;
  size_t in_left = 2;
  char* out_p = out;
  size_t out_left = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_p, &in_left, &out_p, &out_left) == size_t(-1)) return 0;
  const size_t n = sizeof out - out_left;
  if (n == 1) return uint8_t(out[0]);
  if (n == 2) return uint32_t(uint8_t(out[0])) << 8 | uint8_t(out[1]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_cp932_table OUT.cpp\n");
    return 2;
  }
  iconv_t to = iconv_open("UTF-16LE", "CP932");
  iconv_t from = iconv_open("CP932", "UTF-16LE");
  if (to == (iconv_t)-1 || from == (iconv_t)-1) {
    std::fprintf(stderr, "make_cp932_table: the C library has no CP932 converter\n");
    return 1;
  }
  std::vector<uint32_t> single(256, 0), pairs;
  for (int b = 1; b < 256; ++b) {
    if (is_lead(b)) continue;
    const unsigned char byte = uint8_t(b);
    single[b] = to_unicode(to, &byte, 1);
    if (b < 0x80 && single[b] != uint32_t(b)) {
      std::fprintf(stderr, "make_cp932_table: byte %d is not ASCII in CP932\n", b);
      return 1;
    }
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!is_lead(lead)) continue;
    for (int trail = 0; trail < 256; ++trail) {
      const unsigned char bytes[2] = {uint8_t(lead), uint8_t(trail)};
      const uint32_t u = trail == 0 ? 0 : to_unicode(to, bytes, 2);
      if (u != 0 && (trail < 0x40 || trail > 0xFC)) {
        std::fprintf(stderr, "make_cp932_table: trail byte %#x outside 0x40-0xFC\n", trail);
        return 1;
      }
      if (trail >= 0x40 && trail <= 0xFC) pairs.push_back(u);
    }
  }
  std::vector<uint32_t> reverse;  // code point << 16 | bytes, in code point order
  for (uint32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const uint32_t bytes = from_unicode(from, cp);
    if (bytes != 0) reverse.push_back(cp << 16 | bytes);
  }

  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "// Made by make_cp932_table from the C library's CP932 converter.\n");
  std::fprintf(out, "#include \"platform/posix/posix_cp932.h\"\n\nnamespace cp932 {\n\n");
  auto table = [&](const char* declaration, const std::vector<uint32_t>& values) {
    std::fprintf(out, "%s = {", declaration);
    for (size_t i = 0; i < values.size(); ++i)
      std::fprintf(out, "%s%#x,", i % 12 == 0 ? "\n " : " ", unsigned(values[i]));
    std::fprintf(out, "\n};\n\n");
  };
  table("const uint16_t single_byte[256]", single);
  table("const uint16_t double_byte[lead_count * trail_count]", pairs);
  std::fprintf(out, "const uint32_t reverse_count = %zu;\n\n", reverse.size());
  table("const uint32_t reverse[]", reverse);
  std::fprintf(out, "}  // namespace cp932\n");
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
