// The reference decoder; see support_reference_decoder.h.
#include "support_reference_decoder.h"

#include "decode/decode_internal.h"

void reference_decode_member() {
  wa->member_size = get_u32(wa->header + 11);
  wa->packed_remaining = get_u32(wa->header + 7);
  wa->crc = 0;
  wa->ring_size = ring_capacity;
  Bits b = start_member_decoding(char(wa->header[5]));
  wa->out_count = 0;
  wa->ring_fill = 0;
  constexpr uint32_t mask = ring_capacity - 1;
  auto put = [](uint8_t byte, uint32_t done) {
    wa->ring[wa->ring_fill++] = byte;
    if (wa->ring_fill != wa->ring_size) return;
    flush_ring(int32_t(wa->ring_size));
    if (wa->output_file != invalid_file) show_progress(done, wa->member_size);
    wa->ring_fill = 0;
  };
  while (wa->out_count < wa->member_size) {
    if (wa->block_remaining == 0) read_block_header(b);
    --wa->block_remaining;  // a block of 0 codes holds 65536
    uint32_t e = table_entry(wa->lit_table, lit_main_bits, b.word);
    skip_bits(b, entry_length(e));
    uint32_t c = entry_value(e);
    if (c <= 255) {
      put(uint8_t(c), wa->out_count + 1);
      ++wa->out_count;
      continue;
    }
    uint32_t p = table_entry(wa->small_table, small_main_bits, b.word);
    skip_bits(b, entry_length(p));
    uint32_t d = entry_value(p) + take_bits(b, entry_extra(p));
    uint32_t length = c - 253u;
    if (length > wa->member_size - wa->out_count) length = wa->member_size - wa->out_count;
    wa->out_count += length;
    uint32_t src = (wa->ring_fill - d - 1) & mask;
    for (uint32_t k = 0; k < length; ++k) put(wa->ring[(src + k) & mask], wa->out_count);
  }
  if (wa->ring_fill != 0) {
    flush_ring(int32_t(wa->ring_fill));
    if (wa->output_file != invalid_file)
      show_progress(wa->out_count + wa->ring_fill, wa->member_size);
  }
  save_bits(b);
}

std::array<uint32_t, 6> decoder_state() {
  // The bits left of the data, plus any zero bytes taken past its end, in
  // whole bytes: the phase is what both decoders must agree on.
  uint32_t phase = (wa->packed_remaining * 8 + wa->bit_count) & 7;
  return {phase,  uint32_t(wa->bit_word >> 48), wa->block_remaining, wa->out_count, wa->ring_fill,
          wa->crc};
}
