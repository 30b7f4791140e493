// The file layout as the program reads it: the archive behind the program
// image and its level-2 member headers.
#include "archive/archive.h"
#include "decode/decode.h"
#include "startup/startup.h"

static_assert(sizeof(WorkArea::member_name) == member_name_size, "member_name holds a name");

namespace {

bool is_separator(uint8_t c) { return c == '/' || c == '\\' || c == dir_separator; }

// Whether the directory part ends with a separator that is not a trail byte.
bool ends_with_separator(const char* text, uint32_t length) {
  bool last_was_separator = false;
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t c = uint8_t(text[i]);
    if (sys_is_lead_byte(c) && i + 1 < length) {
      ++i;
      last_was_separator = false;
    } else {
      last_was_separator = is_separator(c);
    }
  }
  return last_was_separator;
}

// Joins the directory part and the file name into member_name; 0 when the
// name does not fit in its 259 characters.
bool build_member_name() {
  char* out = wa->member_name;
  uint32_t n = 0;
  for (uint32_t i = 0; i < wa->dir_name_len && wa->dir_name_ptr[i] != 0; ++i) {
    if (n >= path_size - 1) return false;
    out[n++] = char(wa->dir_name_ptr[i]);
  }
  // Some archivers leave out the directory part's closing separator; joining
  // the two without one would make one wrong name of them.
  if (n > 0 && wa->file_name_len > 0 && wa->file_name_ptr[0] != 0 &&
      !ends_with_separator(out, n)) {
    if (n >= path_size - 1) return false;
    out[n++] = '/';
  }
  for (uint32_t i = 0; i < wa->file_name_len && wa->file_name_ptr[i] != 0; ++i) {
    if (n >= path_size - 1) return false;
    out[n++] = char(wa->file_name_ptr[i]);
  }
  out[n] = 0;
  unify_separators(out, '/');
  return true;
}

}  // namespace

int locate_archive() {
  int32_t end = sys_seek_own_file(wa->archive_file, 0, seek_end);
  if (end == -1) return report_read_error();
  wa->archive_size = uint32_t(end);
  uint32_t offset = wa->settings.archive_offset;
  if (offset > wa->archive_size) return report_unexpected_eof();
  if (sys_seek_own_file(wa->archive_file, int32_t(offset), seek_begin) == -1) {
    return report_read_error();
  }
  return 1;
}

void parse_extended_header(uint8_t* data, uint16_t size) {
  uint8_t* body = data + 1;
  uint16_t length = uint16_t(size - ext_overhead);
  bool windows_fields = os_keeps_windows_fields(wa->header[header_os_at]);
  switch (data[0]) {
    case ext_header_crc:
      if (length >= 2) {
        wa->header_crc = get_u16(body);
        wa->header_crc_field = body;
      }
      break;
    case ext_file_name:
      wa->file_name_ptr = body;
      wa->file_name_len = length;
      break;
    case ext_dir_name:
      wa->dir_name_ptr = body;
      wa->dir_name_len = length;
      break;
    case ext_attributes:
      if (length >= 2 && windows_fields) wa->attributes = get_u16(body);
      break;
    case ext_windows_times:
      if (length >= 24 && windows_fields) {
        // Creation, last write, last access.
        int32_t* const times[3] = {&wa->time_created, &wa->time_written, &wa->time_accessed};
        for (int k = 0; k < 3; ++k) {
          FileTime t = {get_u32(body + 8 * k), get_u32(body + 8 * k + 4)};
          filetime_to_seconds(&t, times[k]);
        }
      }
      break;
    default:
      break;
  }
}

HeaderResult read_member_header() {
  if (wa->header != nullptr) {
    sys_free(wa->header);
    wa->header = nullptr;
  }
  uint8_t size_field[2];
  if (sys_read_own_file(wa->archive_file, size_field, 2) != 2) return header_end;
  uint16_t raw_size = get_u16(size_field);
  if (raw_size == 0) return header_end;

  // Headers of up to 32767 bytes: a larger size is negative as a signed
  // 16-bit value, and its allocation fails.
  if (raw_size > largest_header) {
    report_no_memory();
    return header_failed;
  }
  // The fixed part and the first next-size field must fit.
  if (raw_size < smallest_header) {
    report_bad_header();
    return header_failed;
  }
  uint8_t* h = static_cast<uint8_t*>(sys_alloc_zeroed(raw_size));
  if (h == nullptr) {
    report_no_memory();
    return header_failed;
  }
  wa->header = h;
  h[0] = size_field[0];
  h[1] = size_field[1];
  int32_t want = raw_size - 2;
  if (sys_read_own_file(wa->archive_file, h + 2, uint32_t(want)) != want) {
    report_bad_header();
    return header_failed;
  }

  if (!is_known_method(h + header_method_at)) {
    report_bad_header();
    return header_failed;
  }

  wa->header_crc_field = nullptr;
  wa->dir_name_ptr = nullptr;
  wa->file_name_ptr = nullptr;
  wa->dir_name_len = 0;
  wa->file_name_len = 0;
  wa->attributes = h[header_attributes_at];
  int32_t time = int32_t(get_u32(h + header_time_at));
  wa->time_written = time;
  wa->time_created = time;
  wa->time_accessed = time;

  // The chain of extended headers; every one must lie inside the header.
  uint32_t pos = header_fixed_part;
  for (;;) {
    if (pos + 2 > raw_size) {
      report_bad_header();
      return header_failed;
    }
    uint16_t next = get_u16(h + pos);
    if (next == 0) break;
    if (next < ext_overhead || pos + 2 + next > raw_size) {
      report_bad_header();
      return header_failed;
    }
    parse_extended_header(h + pos + 2, next);
    pos += next;
  }

  if (wa->header_crc_field == nullptr) {
    report_bad_header();
    return header_failed;
  }
  wa->header_crc_field[0] = 0;
  wa->header_crc_field[1] = 0;
  wa->crc = 0;
  if (update_crc(h, raw_size) != wa->header_crc) {
    report_bad_header();
    return header_failed;
  }

  // A name longer than member_name holds is refused rather than cut: a cut
  // name would write the member somewhere else.
  if (!build_member_name()) {
    report_bad_header();
    return header_failed;
  }
  return header_ready;
}

int skip_member_data() {
  int32_t here = sys_seek_own_file(wa->archive_file, 0, seek_current);
  if (here == -1) return report_read_error();
  uint64_t target = uint64_t(uint32_t(here)) + get_u32(wa->header + header_packed_at);
  if (target > wa->archive_size) return report_unexpected_eof();
  if (sys_seek_own_file(wa->archive_file, int32_t(target), seek_begin) == -1) {
    return report_read_error();
  }
  return 1;
}
