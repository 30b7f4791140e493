// The bit reader's stream in a 64-bit word: taking the bit reader's fields
// over and back, and the byte-by-byte top-up at the ends of in_buf and of
// the data.
#include "decode/bit_word.h"

#include "startup/startup.h"

namespace {

void set_fast_limit(Bits& b) {
  uint32_t remaining = b.data_end - b.in_pos;
  uint32_t available_end = 0;
  if (b.in_pos < in_buf_size)
    available_end = remaining < in_buf_size - b.in_pos ? b.data_end : in_buf_size;
  b.fast_limit = available_end >= 8 ? available_end - 7 : 0;
}

}  // namespace

Bits load_bits() {
  Bits b;
  b.word = (uint64_t(wa->bit_window) << 48) | (uint64_t(wa->pending_byte) << 40);
  b.count = 16u + wa->pending_bits;
  b.in_pos = wa->in_pos;
  b.data_end = wa->in_pos + wa->packed_remaining;
  b.zeros = 0;
  set_fast_limit(b);
  return b;
}

// Gives back the whole bytes taken beyond bit_window and its pending byte:
// zero bytes are dropped, data bytes return to in_buf (they were all taken
// from the buffer's current contents).
void store_bits(Bits b) {
  // fill_bits keeps 16 bits in the window; they stand in in_buf.
  if (b.count < 16) b = top_up_slow(b);
  uint32_t extra = (b.count - 16) >> 3;
  uint32_t data_bytes = extra > b.zeros ? extra - b.zeros : 0;
  b.in_pos -= data_bytes;
  uint32_t pending_bits = b.count - 16 - extra * 8;
  wa->bit_window = uint16_t(b.word >> 48);
  wa->pending_byte = uint8_t(uint8_t(b.word >> 40) & (0xFF00u >> pending_bits));
  wa->pending_bits = uint8_t(pending_bits);
  wa->in_pos = b.in_pos;
  wa->packed_remaining = b.data_end - b.in_pos;
}

// Byte by byte, for the end of in_buf and the end of the data. The file is
// read only when the word holds fewer than 16 bits, which is when fill_bits
// would read it. Leaves at most 56 bits.
Bits top_up_slow(Bits b) {
  // Bits below count may stand from an earlier top-up; bytes go in whole.
  b.word &= ~(~uint64_t(0) >> b.count);
  while (b.count <= 48) {
    uint32_t remaining = b.data_end - b.in_pos;
    if (remaining == 0) {
      b.count += 8;
      if (b.zeros < 8) ++b.zeros;
      continue;
    }
    int byte;
    if (b.in_pos < in_buf_size) {
      byte = wa->in_buf[b.in_pos++];
    } else {
      if (b.count >= 16) break;
      wa->in_pos = b.in_pos;
      byte = next_input_byte(wa->archive_file, remaining);
      if (byte < 0) fail_read();
      b.in_pos = wa->in_pos;
      b.data_end = b.in_pos + remaining - 1;
    }
    b.word |= uint64_t(uint32_t(byte)) << (56 - b.count);
    b.count += 8;
  }
  set_fast_limit(b);
  return b;
}
