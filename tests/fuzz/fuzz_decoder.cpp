// The block decoder under libFuzzer: arbitrary bytes make one member,
// decoded by decode_member and code by code (support_reference_decoder).
// Both must write the same bytes, end the same way (returned, "Bad table",
// "Read ERROR") and leave the same state; no read may ask for a byte beyond
// the member's packed data.
//
// Byte 0: bits 0-1 the method '4' to '7'; bit 2 output to a file, else the
// message capture; bit 3 the header claims 300 packed bytes more than
// follow; bit 4 the data repeated to 40000 bytes, so that in_buf refills.
// Bytes 1-3: the unpacked size, its low 17 bits. The rest: the packed data.
#include <array>
#include <cstring>

#include "decode/decode.h"
#include "fuzz_platform.h"
#include "startup/startup.h"
#include "tests/unit/support_reference_decoder.h"

namespace {

struct Outcome {
  int status;
  FuzzWrites writes;
  char message[64];
  char captured[64];
  std::array<uint32_t, 6> state;
  uint64_t read_end;  // how far into the packed data reads went
};

WorkArea* area;
uint8_t header[26];
const uint8_t* packed;
size_t packed_size;
bool to_file;

Outcome run(void (*decoder)()) {
  std::memset(area, 0, sizeof(WorkArea));
  wa = area;
  build_crc_table(crc_polynomial);
  text_copy(wa->module_path, "C:\\SETUP.EXE", path_size);
  text_copy(wa->target_path, "C:\\OUT\\FILE.TXT", target_size);
  fuzz_set_own_file(packed, packed_size);
  wa->archive_file = sys_open_own_file(wa->module_path);
  wa->header = header;
  wa->in_pos = 0xFFFFFFFFu;
  wa->output_file = to_file ? sys_create_file(wa->target_path) : invalid_file;
  wa->capture_mode = to_file ? capture_none : capture_message;

  Outcome o;
  std::memset(&o, 0, sizeof o);
  o.status = fuzz_run(decoder);
  o.writes = fuzz_writes();
  text_copy(o.message, fuzz_last_message(), sizeof o.message);
  text_copy(o.captured, wa->text, sizeof o.captured);
  if (o.status == -1) {
    o.state = decoder_state();
    // The loop ends only with the member complete, 16 bits or more in the
    // bit reader, and never with more bytes than the header declares.
    if (wa->out_count != wa->member_size || wa->bit_count < 16 || wa->bit_count > 63)
      __builtin_trap();
    if (to_file && o.writes.bytes != wa->member_size) __builtin_trap();
  }
  o.read_end = fuzz_own_file_requested_end();
  if (o.read_end > get_u32(header + 7)) __builtin_trap();
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  if (area == nullptr) area = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  packed = data + 4;
  packed_size = size - 4;
  static uint8_t repeated[40000];
  if ((data[0] & 16) != 0 && packed_size != 0) {
    for (size_t i = 0; i < sizeof repeated; ++i) repeated[i] = packed[i % packed_size];
    packed = repeated;
    packed_size = sizeof repeated;
  }
  to_file = (data[0] & 4) != 0;
  uint32_t claimed = uint32_t(packed_size) + ((data[0] & 8) != 0 ? 300 : 0);
  uint32_t unpacked =
      (uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16) & 0x1FFFF;

  std::memset(header, 0, sizeof header);
  header[0] = sizeof header;
  std::memcpy(header + 2, "-lh5-", 5);
  header[5] = uint8_t('4' + (data[0] & 3));
  for (int i = 0; i < 4; ++i) {
    header[7 + i] = uint8_t(claimed >> (8 * i));
    header[11 + i] = uint8_t(unpacked >> (8 * i));
  }
  header[20] = 2;

  Outcome fast = run(decode_member);
  Outcome reference = run(reference_decode_member);
  if (std::memcmp(&fast, &reference, sizeof fast) != 0) __builtin_trap();
  return 0;
}
