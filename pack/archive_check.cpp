#include "pack/archive_check.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "format/lzh_format.h"
#include "pack/crc16.h"
#include "pack/file_source.h"
#include "pack/member_header.h"
#include "pack/pack_error.h"
#include "pack/windows_names.h"

namespace pack {
namespace {

unsigned get16(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8);
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16);
}

// The member name as the stub joins it: the directory part, a separator where it lacks
// one, the file name; "\\" and 0xFF that are no trail bytes become "/".
std::string joined_name(const std::string& dir, const std::string& file,
                        const CodePage& code_page) {
  std::string name = dir;
  if (!name.empty() && !file.empty()) name += '/';  // an extra one is dropped below
  name += file;
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (code_page.is_lead_byte(c) && i + 1 < name.size()) {
      out += name.substr(i++, 2);
    } else if (c == '\\' || c == dir_separator || c == '/') {
      if (out.empty() || out.back() != '/' || i == 0) out += '/';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

ArchiveSummary check_archive(const std::string& path, const CodePage& code_page) {
  const int fd = open_regular_file(path);
  std::unique_ptr<FILE, int (*)(FILE*)> file(fdopen(fd, "rb"), std::fclose);
  if (!file) {
    close(fd);
    throw PackError(about_file(path, system_error_text()));
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0)
    throw PackError(about_file(path, system_error_text()));
  const uint64_t file_size = static_cast<uint64_t>(std::ftell(file.get()));
  std::rewind(file.get());

  ArchiveSummary summary;
  CaseClashes cases;
  uint64_t offset = 0;
  std::vector<uint8_t> header;
  for (;;) {
    uint8_t size_bytes[2];
    const size_t got = std::fread(size_bytes, 1, 2, file.get());
    const unsigned size = got == 2 ? size_bytes[0] | (size_bytes[1] << 8) : 0;
    if (size == 0) {
      if (got == 0 || (got == 1 && size_bytes[0] == 0)) summary.missing_end = 2 - unsigned(got);
      return summary;
    }
    auto refuse = [&](const std::string& why) {
      throw PackError(about_file(path, "header at offset " + std::to_string(offset) + ": " + why));
    };
    if (size > largest_header) refuse("larger than the 32767 bytes the stub reads");
    if (size < smallest_header) refuse("shorter than a level-2 header");
    header.assign(size, 0);
    header[0] = size_bytes[0];
    header[1] = size_bytes[1];
    if (std::fread(header.data() + 2, 1, size - 2, file.get()) != size - 2) {
      refuse("the file ends inside it");
    }
    const char method = static_cast<char>(header[header_method_digit_at]);
    if (!is_known_method(header.data() + header_method_at)) {
      refuse("not a method the stub decodes (-lh0-, -lh4- to -lh7-, -lhd-)");
    }
    const unsigned level = header[header_level_at];
    if (level != header_level_2)
      refuse("header level " + std::to_string(level) + "; the stub reads level 2");
    const uint32_t packed = get32(header, header_packed_at);
    const uint32_t unpacked = get32(header, header_unpacked_at);
    if (method == method_stored && packed != unpacked) refuse("a stored member whose sizes differ");
    if (method == method_directory && packed != 0) refuse("a directory member with data");

    size_t at = header_fixed_part;
    long crc_at = -1;
    size_t name_bytes = 0;
    std::string dir_name, file_name;
    for (unsigned next = get16(header, at); next != 0; next = get16(header, at)) {
      if (next < ext_overhead || at + next + 2 > size)
        refuse("an extended header runs past the header's end");
      const uint8_t type = header[at + 2];
      const size_t data_size = next - ext_overhead;
      if (type == ext_header_crc) {
        if (data_size < 2) refuse("a header CRC field too short");
        crc_at = static_cast<long>(at + 3);
      } else if (type == ext_file_name || type == ext_dir_name) {
        name_bytes += data_size;
        const char* data = reinterpret_cast<const char*>(header.data()) + at + 3;
        std::string& part = type == ext_file_name ? file_name : dir_name;
        part.assign(data, std::find(data, data + data_size, '\0'));
      }
      at += next;
    }
    if (crc_at < 0) refuse("no header CRC");
    const unsigned stored_crc = get16(header, static_cast<size_t>(crc_at));
    header[crc_at] = header[crc_at + 1] = 0;
    if (crc16_update(0, header.data(), header.size()) != stored_crc) refuse("wrong header CRC");
    if (name_bytes > max_member_name) {
      refuse("member name of " + std::to_string(name_bytes) + " bytes; the stub holds " +
             std::to_string(max_member_name));
    }
    const std::string name = joined_name(dir_name, file_name, code_page);
    const std::string escape = escape_problem(name);
    if (!escape.empty()) {
      refuse("member " + shown(name) +
             " would be written outside the extraction folder: " + escape);
    }
    std::string unicode;
    if (!code_page.decode(name, &unicode)) {
      summary.warnings.push_back("member " + shown(name) + ": not text of code page " +
                                 std::to_string(code_page.number()) + "; kept as it is");
    } else {
      const std::string problem = windows_name_problem(unicode);
      const std::string clash = problem.empty() ? cases.add(unicode) : "";
      if (!problem.empty()) {
        summary.warnings.push_back("member " + shown(unicode) +
                                   ": Windows cannot hold the name: " + problem);
      } else if (!clash.empty()) {
        summary.warnings.push_back("member " + shown(unicode) + " differs only in case from " +
                                   shown(clash) + "; on Windows they would be one file");
      }
    }
    summary.crc_xor ^= static_cast<uint16_t>(get16(header, header_file_crc_at));
    ++summary.members;
    offset += size;
    if (offset + packed > file_size) refuse("its data runs past the end of the file");
    offset += packed;
    if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) {
      throw PackError(about_file(path, system_error_text()));
    }
  }
}

}  // namespace pack
