// Shared by the decoder's and the header reader's tests: a work area over a
// scratch folder, members packed by jlha, hand-made bit streams, and what the
// sink wrote and progress showed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "decode/decode.h"
#include "decode/decode_internal.h"
#include "startup/startup.h"
#include "tests/sample_data.h"

using Bytes = std::vector<uint8_t>;

// A member as stored: its level-2 header and packed data.
struct StoredMember {
  Bytes header;
  Bytes data;
  uint16_t crc() const { return get_u16(header.data() + 21); }
};

// The files packed by jlha with a method of '5' to '7', level-2 headers;
// empty when jlha is not installed (when it fails, so does the test).
std::vector<StoredMember> pack_with_jlha(char method, const std::vector<Bytes>& files);

// Bits most significant first, as the bit reader takes them.
struct BitWriter {
  Bytes bytes;
  int used = 0;  // bits of the last byte in use, 0 = none open
  void put(uint32_t value, int bits);
};

// A block whose codes are all one literal/length symbol and one position
// symbol, sent as single-symbol codes that take no bits per code.
void put_constant_block(BitWriter& w, uint16_t block_size, uint16_t symbol, uint16_t position,
                        int position_count_bits);

// A work area with the CRC table; a scratch folder is drive C:, with the
// program's own file "archive.bin" in it.
class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes data and trailer as the program's own file, opens it as
  // archive_file and forces a refill, as the pass does before a member.
  void open_archive(const Bytes& data, const Bytes& trailer = Bytes());
  // The member: its packed data as the archive, a header with its sizes.
  void use_member(char method, const Bytes& packed, uint32_t size, const Bytes& trailer = Bytes());
  void use_member(const StoredMember& m, const Bytes& trailer = Bytes());
  // use_member, then the bit reader started on the data, in bits.
  void start_bits(char method, const Bytes& packed, const Bytes& trailer = Bytes());
  int32_t archive_position() { return sys_seek_own_file(wa->archive_file, 0, seek_current); }
  // Creates target_path as output_file.
  void open_output() {
    ASSERT_NE(wa->output_file = sys_create_file(wa->target_path), invalid_file);
  }
  bool output_exists() { return std::filesystem::exists(wa->target_path); }

  std::string folder;
  Bytes header;
  Bits bits;
};

// Runs fn with output_file a socket that keeps message boundaries: the
// bytes written and each write's size, or with count_only their count.
Bytes recorded(const std::function<void()>& fn, std::vector<size_t>* sizes = nullptr,
               uint64_t* count_only = nullptr);

// Runs fn with standard error on a pseudo terminal and a dialog set, where
// the terminal front end shows every progress text; the percentages shown.
std::vector<int> progress_shown(const std::function<void()>& fn);
