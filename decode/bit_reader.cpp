// The bit reader's slow refill: byte by byte at the end of in_buf and of
// the member's data, and the read of the next piece of the member.
#include "decode/decode_internal.h"

void fail_read() {
  report_read_error();
  fatal_exit(1);
}

Bits refill_slow(Bits b) {
  // Bits below count may stand from an earlier refill; bytes go in whole.
  b.word &= ~(~uint64_t(0) >> b.count);
  while (b.count <= 48) {
    uint32_t byte = 0;  // past the data: zero bytes, nothing read
    if (b.remaining != 0) {
      if (b.in_pos >= in_buf_size) {
        if (b.count >= 16) break;
        uint32_t request = b.remaining < in_buf_size ? b.remaining : in_buf_size;
        int32_t got = sys_read_own_file(wa->archive_file, wa->in_buf, request);
        if (got < 0 || uint32_t(got) != request) fail_read();
        b.in_pos = 0;
      }
      byte = wa->in_buf[b.in_pos++];
      --b.remaining;
    }
    b.word |= uint64_t(byte) << (56 - b.count);
    b.count += 8;
  }
  return b;
}
