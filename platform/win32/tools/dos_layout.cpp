// Post-link step of the Windows stub: gives the linked image the file layout
// that the self-extracting file relies on.
//
//   0 ..   63  DOS header, 32 header paragraphs: the DOS load image starts at 512
//  64 ..  511  zero
// 512 .. 1119  zero: 512 .. 1114 receive the settings record
//        1120  DOS code: prints a notice and ends with exit code 1
//      behind  the PE headers (8-aligned), then the sections, moved as a whole
//
// Usage: kobrix-dos-layout INPUT.exe OUTPUT.exe
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr uint32_t header_paragraphs = 32;
constexpr uint32_t dos_image_start = header_paragraphs * 16;  // 512
constexpr uint32_t dos_code_offset = 1120;
constexpr uint32_t dos_code_ip = dos_code_offset - dos_image_start;  // 0x260

// 16-bit code, run with CS = the start of the load image (file offset 512).
constexpr uint8_t dos_code[] = {
    0x0E,              // push cs
    0x1F,              // pop ds
    0xBA, 0x00, 0x00,  // mov dx, notice        (patched below)
    0xB4, 0x09,        // mov ah, 09h           print text up to "$"
    0xCD, 0x21,        // int 21h
    0xB8, 0x01, 0x4C,  // mov ax, 4C01h         end with exit code 1
    0xCD, 0x21,        // int 21h
};
constexpr char dos_notice[] = "This program needs 32-bit Windows.\r\n$";

uint16_t get16(const std::vector<uint8_t>& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(get16(b, at)) | uint32_t(get16(b, at + 2)) << 16;
}
void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
uint32_t align_up(uint32_t v, uint32_t a) {
  return (v + a - 1) / a * a;
}

int fail(const char* what) {
  std::fprintf(stderr, "kobrix-dos-layout: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: kobrix-dos-layout INPUT.exe OUTPUT.exe");
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return fail("cannot read the input image");
  std::vector<uint8_t> old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  if (old.size() < 64 || old[0] != 'M' || old[1] != 'Z') return fail("no DOS header");
  uint32_t pe = get32(old, 0x3C);
  if (pe + 24 > old.size() || std::memcmp(&old[pe], "PE\0\0", 4) != 0) {
    return fail("no PE signature");
  }
  uint32_t coff = pe + 4;
  uint32_t sections = get16(old, coff + 2);
  uint32_t optional_size = get16(old, coff + 16);
  uint32_t opt = coff + 20;
  uint16_t magic = get16(old, opt);
  if (magic != 0x10B && magic != 0x20B) return fail("unknown optional header");
  if (get32(old, coff + 8) != 0) return fail("the image still has a symbol table (strip it)");

  uint32_t section_alignment = get32(old, opt + 32);
  uint32_t file_alignment = get32(old, opt + 36);
  uint32_t old_headers = get32(old, opt + 60);
  uint32_t directories = opt + (magic == 0x10B ? 96 : 112);
  uint32_t directory_count = get32(old, directories - 4);
  // The certificate and debug directories hold file offsets; a stripped stub has neither.
  for (uint32_t index : {4u, 6u}) {
    if (index < directory_count && get32(old, directories + index * 8 + 4) != 0) {
      return fail("the image has a certificate or debug directory");
    }
  }

  uint32_t table = opt + optional_size;
  uint32_t header_length = table + sections * 40 - pe;
  if (pe + header_length > old_headers || old_headers > old.size()) {
    return fail("headers overlap the sections");
  }

  // The new file: DOS header, DOS code, PE headers.
  uint32_t dos_end = dos_code_offset + sizeof(dos_code) + sizeof(dos_notice) - 1;
  uint32_t new_pe = align_up(dos_end, 8);
  uint32_t new_headers = align_up(new_pe + header_length, file_alignment);
  uint32_t first_section = section_alignment;
  for (uint32_t i = 0; i < sections; ++i) {
    uint32_t va = get32(old, table + i * 40 + 12);
    if (va < first_section) first_section = va;
  }
  if (new_headers > first_section) return fail("the headers do not fit before the first section");

  std::vector<uint8_t> out(new_headers, 0);
  uint32_t image_size = dos_end - dos_image_start;  // the DOS load image
  uint32_t stack_top = align_up(image_size, 16) + 256;
  out[0] = 'M';
  out[1] = 'Z';
  put16(out, 0x02, dos_end % 512);                 // bytes in the last page
  put16(out, 0x04, align_up(dos_end, 512) / 512);  // pages
  put16(out, 0x06, 0);                             // relocations
  put16(out, 0x08, header_paragraphs);
  put16(out, 0x0A, (stack_top - image_size + 15) / 16);  // minimum extra paragraphs
  put16(out, 0x0C, 0xFFFF);                              // maximum extra paragraphs
  put16(out, 0x0E, 0);                                   // SS
  put16(out, 0x10, stack_top);                           // SP
  put16(out, 0x14, dos_code_ip);                         // IP
  put16(out, 0x16, 0);                                   // CS
  put16(out, 0x18, 0x40);                                // relocation table: a new executable
  put32(out, 0x3C, new_pe);

  std::memcpy(&out[dos_code_offset], dos_code, sizeof(dos_code));
  put16(out, dos_code_offset + 3, dos_code_ip + sizeof(dos_code));
  std::memcpy(&out[dos_code_offset + sizeof(dos_code)], dos_notice, sizeof(dos_notice) - 1);

  std::memcpy(&out[new_pe], &old[pe], header_length);
  uint32_t delta = new_headers - old_headers;
  uint32_t new_opt = new_pe + (opt - pe);
  uint32_t new_table = new_pe + (table - pe);
  put32(out, new_opt + 60, new_headers);
  put32(out, new_opt + 64, 0);  // the checksum no longer holds
  for (uint32_t i = 0; i < sections; ++i) {
    uint32_t raw = new_table + i * 40 + 20;
    if (get32(out, raw) != 0) put32(out, raw, get32(out, raw) + delta);
  }
  out.insert(out.end(), old.begin() + old_headers, old.end());

  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
  if (!file) return fail("cannot write the output image");
  return 0;
}
