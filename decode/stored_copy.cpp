// The stored copy of -lh0- members: straight from the archive into the ring
// in pieces of 64 KiB, each flushed through the output sink.
#include "decode/decode_internal.h"
#include "startup/startup.h"

void copy_stored_member(int32_t size) {
  wa->crc = 0;
  int32_t remaining = size;
  while (remaining > 0) {
    int32_t chunk = remaining < int32_t(ring_capacity) ? remaining : int32_t(ring_capacity);
    if (sys_read_own_file(wa->archive_file, wa->ring, uint32_t(chunk)) != chunk) fail_read();
    flush_ring(chunk);
    if (wa->output_file != invalid_file) show_progress(uint32_t(size - remaining), uint32_t(size));
    remaining -= chunk;
  }
}
