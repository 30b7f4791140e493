// Shared by the decoder's tests; see support_decode.h.
#include "support_decode.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "platform/posix/posix_config.h"

namespace {

Bytes read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The members of a level-2 archive of plain file names.
std::vector<StoredMember> read_level2_members(const Bytes& archive) {
  std::vector<StoredMember> members;
  for (size_t pos = 0; pos + 26 <= archive.size();) {
    size_t header_size = get_u16(&archive[pos]);
    if (header_size < 26 || pos + header_size > archive.size()) break;
    StoredMember m;
    m.header.assign(archive.begin() + long(pos), archive.begin() + long(pos + header_size));
    for (size_t p = 24; p + 3 <= header_size;) {
      uint16_t size = get_u16(&m.header[p]);
      if (size < 3 || p + size + 2 > header_size) break;
      if (m.header[p + 2] == 1)
        m.name.assign(m.header.begin() + long(p + 3), m.header.begin() + long(p + size));
      p += size;
    }
    pos += header_size;
    uint32_t packed = get_u32(&m.header[7]);
    if (pos + packed > archive.size()) break;
    m.data.assign(archive.begin() + long(pos), archive.begin() + long(pos + packed));
    pos += packed;
    members.push_back(m);
  }
  return members;
}

}  // namespace

std::vector<StoredMember> pack_with_jlha(char method,
                                         const std::vector<std::pair<std::string, Bytes>>& files) {
  if (std::system("command -v jlha >/dev/null 2>&1") != 0) return {};
  char pattern[] = "/tmp/kobrix-jlha-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    ADD_FAILURE() << "no scratch folder for jlha";
    return {};
  }
  std::string dir = pattern;
  std::string command = "cd " + dir + " && jlha c2o" + method + " a.lzh";
  for (const auto& f : files) {
    write_file_bytes(dir + "/" + f.first, f.second);
    command += " " + f.first;
  }
  std::vector<StoredMember> members;
  if (std::system((command + " >/dev/null 2>&1").c_str()) == 0)
    members = read_level2_members(read_file_bytes(dir + "/a.lzh"));
  std::filesystem::remove_all(dir);
  // jlha is there: an archive it did not write, or one not read whole, is
  // a failure, not a reason to skip.
  if (members.size() != files.size())
    ADD_FAILURE() << "jlha's archive gave " << members.size() << " of " << files.size()
                  << " members: " << command;
  return members;
}

void BitWriter::put(uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    if (used == 0) bytes.push_back(0);
    if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> used);
    used = (used + 1) & 7;
  }
}

void put_constant_block(BitWriter& w, uint16_t block_size, uint16_t symbol, uint16_t position,
                        int position_count_bits) {
  w.put(block_size, 16);
  w.put(0, 5);  // code-length code: the single symbol 0
  w.put(0, 5);
  w.put(0, 9);  // literal/length code: the single symbol
  w.put(symbol, 9);
  w.put(0, position_count_bits);
  w.put(position, position_count_bits);
}

void DecodeTest::SetUp() {
  char pattern[] = "/tmp/kobrix-decode-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder = pattern;
  archive_path = folder + "/archive.bin";
  posix_set_root(folder.c_str());
  posix_set_module_path(archive_path.c_str());
  wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  ASSERT_NE(wa, nullptr);
  text_copy(wa->settings.window_title, "Decode test", sizeof wa->settings.window_title);
  text_copy(wa->module_path, archive_path.c_str(), path_size);
  text_copy(wa->target_path, (folder + "/out.bin").c_str(), target_size);
  wa->output_file = invalid_file;
  wa->archive_file = invalid_file;
  build_crc_table(crc_polynomial);
}

void DecodeTest::TearDown() {
  if (wa != nullptr) {
    close_archive();
    if (wa->output_file != invalid_file && wa->output_file != 0) sys_close_file(wa->output_file);
    sys_free(wa);
    wa = nullptr;
  }
  std::filesystem::remove_all(folder);
}

void DecodeTest::open_archive(const Bytes& data, const Bytes& trailer) {
  close_archive();
  Bytes file = data;
  file.insert(file.end(), trailer.begin(), trailer.end());
  write_file_bytes(archive_path, file);
  wa->archive_file = sys_open_own_file(archive_path.c_str());
  ASSERT_NE(wa->archive_file, invalid_file);
  wa->in_pos = 0xFFFFFFFFu;
}

void DecodeTest::close_archive() {
  if (wa->archive_file != invalid_file && wa->archive_file != 0)
    sys_close_own_file(wa->archive_file);
  wa->archive_file = invalid_file;
}

void DecodeTest::use_member(char method, const Bytes& packed, uint32_t size, const Bytes& trailer) {
  open_archive(packed, trailer);
  // A level-2 header with the method and the two sizes.
  header = {26, 0, '-', 'l', 'h', uint8_t(method), '-'};
  header.resize(26);
  for (int i = 0; i < 4; ++i) {
    header[7 + i] = uint8_t(packed.size() >> (8 * i));
    header[11 + i] = uint8_t(size >> (8 * i));
  }
  wa->header = header.data();
}

void DecodeTest::use_member(const StoredMember& m, const Bytes& trailer) {
  open_archive(m.data, trailer);
  header = m.header;
  wa->header = header.data();
}

void DecodeTest::start_bits(char method, const Bytes& packed, const Bytes& trailer) {
  use_member(method, packed, 0, trailer);
  wa->packed_remaining = uint32_t(packed.size());
  bits = start_member_decoding(method);
}

int32_t DecodeTest::archive_position() {
  return sys_seek_own_file(wa->archive_file, 0, seek_current);
}

void DecodeTest::open_output() {
  if (wa->output_file != invalid_file) sys_close_file(wa->output_file);
  wa->output_file = sys_create_file(wa->target_path);
  ASSERT_NE(wa->output_file, invalid_file);
}

bool DecodeTest::output_exists() {
  return std::filesystem::exists(wa->target_path);
}

namespace {

// Runs fn with the output file a socket whose reader hands every write, in
// order, to take.
void each_write(const std::function<void()>& fn,
                const std::function<void(const uint8_t*, size_t)>& take) {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
  std::thread reader([&] {
    Bytes buffer(1 << 18);
    for (ssize_t n; (n = recv(fds[1], buffer.data(), buffer.size(), 0)) > 0;)
      take(buffer.data(), size_t(n));
  });
  wa->output_file = fds[0];
  fn();
  close(fds[0]);
  reader.join();
  close(fds[1]);
  wa->output_file = invalid_file;
}

}  // namespace

Bytes recorded(const std::function<void()>& fn, std::vector<size_t>* sizes) {
  Bytes bytes;
  each_write(fn, [&](const uint8_t* data, size_t n) {
    if (sizes != nullptr) sizes->push_back(n);
    bytes.insert(bytes.end(), data, data + n);
  });
  return bytes;
}

uint64_t bytes_written(const std::function<void()>& fn) {
  uint64_t total = 0;
  each_write(fn, [&](const uint8_t*, size_t n) { total += n; });
  return total;
}

std::vector<int> progress_shown(const std::function<void()>& fn) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  if (master < 0) return {};
  grantpt(master);
  unlockpt(master);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  std::fflush(stderr);
  int saved = dup(2);
  dup2(slave, 2);
  Window dialog = wa->dialog;
  wa->dialog = reinterpret_cast<Window>(1);
  fn();
  wa->dialog = dialog;
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(slave);
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, size_t(n));
  close(master);
  std::vector<int> percentages;
  std::regex progress("Extract\\.\\.\\. ([0-9]+)%");
  for (std::sregex_iterator it(shown.begin(), shown.end(), progress), end; it != end; ++it)
    percentages.push_back(std::stoi((*it)[1]));
  return percentages;
}
