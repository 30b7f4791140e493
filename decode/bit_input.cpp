// Bit input: the current member's compressed bytes, read through in_buf and
// presented most significant bit first in the 16-bit bit_window. Never reads
// past the member's packed data; beyond it, zero bits.
#include "decode/decode_internal.h"
#include "startup/startup.h"

void fail_read() {
  report_read_error();
  fatal_exit(1);
}

int next_input_byte(FileHandle file, uint32_t wanted) {
  if (wa->in_pos >= in_buf_size) {
    uint32_t request = wanted < in_buf_size ? wanted : in_buf_size;
    int32_t got = sys_read_own_file(file, wa->in_buf, request);
    if (got < 0 || uint32_t(got) != request) return -1;
    wa->in_pos = 0;
  }
  return wa->in_buf[wa->in_pos++];
}

void fill_bits(uint8_t n) {
  uint32_t window = wa->bit_window;
  uint32_t pending = wa->pending_byte;
  uint32_t bits = wa->pending_bits;
  while (n > bits) {
    n = uint8_t(n - bits);
    window = (window << bits) + (pending >> (8 - bits));
    if (wa->packed_remaining != 0) {
      --wa->packed_remaining;
      int byte = next_input_byte(wa->archive_file, wa->packed_remaining + 1);
      if (byte < 0) fail_read();
      pending = uint32_t(byte);
    } else {
      pending = 0;
    }
    bits = 8;
  }
  // n is at most 8 here.
  wa->bit_window = uint16_t((window << n) + (pending >> (8 - n)));
  wa->pending_byte = uint8_t(pending << n);
  wa->pending_bits = uint8_t(bits - n);
}

uint16_t read_bits(uint8_t n) {
  uint16_t window = wa->bit_window;
  uint16_t value = n >= 16 ? window : uint16_t(window >> (16 - n));
  fill_bits(n);
  return value;
}
