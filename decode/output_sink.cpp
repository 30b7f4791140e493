// The output sink: each block of a member's bytes goes to its file, with the
// CRC-16 run over exactly what was written, or, for the message and script
// members of the scan pass, into a text in memory.
#include "decode/decode.h"
#include "startup/startup.h"

namespace {

// Copies the bytes up to the first zero byte, at most capacity - 1 of them,
// and a terminator.
void capture_text(char* out, uint32_t capacity, const uint8_t* data, uint32_t length) {
  uint32_t limit = length < capacity - 1 ? length : capacity - 1;
  uint32_t i = 0;
  for (; i < limit && data[i] != 0; ++i) out[i] = char(data[i]);
  out[i] = 0;
}

}  // namespace

void flush_ring(int32_t n) {
  write_output(wa->ring, uint32_t(n), wa->output_file);
}

void write_output(const uint8_t* data, uint32_t length, FileHandle file) {
  if (file != invalid_file) {
    uint32_t written = 0;
    if (sys_write_file(file, data, length, &written) == 0 || written != length) {
      report_file_error("Write ERROR", wa->target_path);
      fatal_exit(1);
    }
    update_crc(data, int32_t(length));
    return;
  }
  if (wa->capture_mode == capture_message) {
    capture_text(wa->text, text_size, data, length);
  } else if (wa->capture_mode == capture_script) {
    capture_text(wa->script, script_size, data, length);
  }
}
