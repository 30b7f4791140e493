// Shared by the decoder's tests: a work area over a scratch folder, one
// member's packed data as the program's own file, real LZH members, hand-made
// bit streams, and what the sink wrote and the progress display showed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "decode/decode.h"
#include "startup/startup.h"

using Bytes = std::vector<uint8_t>;

Bytes read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const Bytes& bytes);

// Compressible text of n bytes, and random bytes, both fixed by the seed.
Bytes sample_text(size_t n, uint32_t seed);
Bytes sample_random(size_t n, uint32_t seed);

// A member of a level-2 archive as stored: header and packed data; its name
// is the directory part ("/" as separator) and the file name.
struct StoredMember {
  std::string name;
  Bytes header;
  Bytes data;
  char method() const { return char(header[5]); }
  uint32_t size() const { return get_u32(header.data() + 11); }
  uint16_t crc() const { return get_u16(header.data() + 21); }
};
std::vector<StoredMember> read_level2_members(const Bytes& archive);

// The files packed by jlha with method '5' to '7' and level-2 headers; empty
// when jlha is not installed.
std::vector<StoredMember> pack_with_jlha(char method,
                                         const std::vector<std::pair<std::string, Bytes>>& files);

// The corpus of real archives beside the checkout, or "" when it is absent;
// the sha256 of each member of an archive by its name, from its manifest.
std::string corpus_folder();
std::map<std::string, std::string> corpus_digests(const std::string& archive);
// Lower-case hex sha256 of the bytes (by sha256sum).
std::string sha256_of(const Bytes& bytes);

// A level-2 member header holding a method digit and the two sizes.
Bytes member_header(char method, uint32_t packed, uint32_t size);

// Bits most significant first, as the bit reader takes them.
class BitWriter {
 public:
  void put(uint32_t value, int bits);
  Bytes bytes() const;

 private:
  Bytes bytes_;
  int used_ = 0;  // bits of the last byte in use, 0 = none open
};

// A block whose codes are all one literal/length symbol and one position
// symbol, sent as single-symbol codes that take no bits per code.
void put_constant_block(BitWriter& w, uint16_t block_size, uint16_t symbol, uint16_t position,
                        int position_count_bits);

// CRC-16 (0xA001, start 0) bit by bit, independent of the tables.
uint16_t crc16_bitwise(const uint8_t* data, size_t n, uint16_t polynomial = 0xA001);

// The block decoder as its routines describe it, symbol by symbol and byte by
// byte through next_lit_symbol and next_position; the reference for the
// fast loop of decode_member.
void reference_decode_member();

// A fresh work area with the CRC table, over a scratch folder that stands in
// for drive C:. The program's own file is "archive.bin" in it.
class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes data, then trailer, as the program's own file, opens it as
  // archive_file and forces a refill, as the pass does before a member.
  void open_archive(const Bytes& data, const Bytes& trailer = Bytes());
  // The member: its packed data as the archive, a header with its sizes.
  void use_member(char method, const Bytes& packed, uint32_t size, const Bytes& trailer = Bytes());
  void use_member(const StoredMember& m, const Bytes& trailer = Bytes());
  int32_t archive_position();
  // Creates target_path as output_file; output_bytes closes and reads it.
  void open_output();
  Bytes output_bytes();
  bool output_exists();

  std::string folder;
  std::string archive_path;
  Bytes header;
};

// The sink's writes, each kept apart: output_file is one end of a socket
// that keeps message boundaries, and a thread collects the other end.
class WriteRecorder {
 public:
  void start();  // sets output_file
  void finish();
  std::vector<size_t> sizes;
  Bytes bytes;

 private:
  int fds_[2] = {-1, -1};
  std::thread reader_;
};

// Runs fn with standard error on a pseudo terminal and a dialog set, where
// the terminal front end shows every progress text, and returns the
// percentages shown, in order.
std::vector<int> progress_shown(const std::function<void()>& fn);
