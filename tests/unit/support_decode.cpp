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

static void write_file_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<StoredMember> pack_with_jlha(char method, const std::vector<Bytes>& files) {
  if (std::system("command -v jlha >/dev/null 2>&1") != 0) return {};
  char pattern[] = "/tmp/kobrix-jlha-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    ADD_FAILURE() << "no scratch folder for jlha";
    return {};
  }
  std::string dir = pattern;
  std::string command = "cd " + dir + " && jlha c2o" + method + " a.lzh";
  for (size_t i = 0; i < files.size(); ++i) {
    write_file_bytes(dir + "/f" + std::to_string(i), files[i]);
    command += " f" + std::to_string(i);
  }
  Bytes archive;
  if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) {
    std::ifstream in(dir + "/a.lzh", std::ios::binary);
    archive.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove_all(dir);
  // The members in the order given, each with its file's size.
  std::vector<StoredMember> members;
  for (size_t pos = 0; pos + 26 <= archive.size() && members.size() < files.size();) {
    size_t header_size = get_u16(&archive[pos]), end = pos + header_size;
    if (header_size < 26 || end + get_u32(&archive[pos + 7]) > archive.size()) break;
    if (get_u32(&archive[pos + 11]) != files[members.size()].size()) break;
    StoredMember m;
    m.header.assign(archive.begin() + long(pos), archive.begin() + long(end));
    pos = end + get_u32(&archive[pos + 7]);
    m.data.assign(archive.begin() + long(end), archive.begin() + long(pos));
    members.push_back(m);
  }
  // jlha is there: an archive it did not write, or one not read whole, is
  // a failure, not a reason to skip.
  if (members.size() != files.size())
    ADD_FAILURE() << "jlha's archive is not as asked: " << command;
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
  posix_set_root(folder.c_str());
  posix_set_module_path((folder + "/archive.bin").c_str());
  wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  ASSERT_NE(wa, nullptr);
  text_copy(wa->settings.window_title, "Decode test", sizeof wa->settings.window_title);
  text_copy(wa->module_path, (folder + "/archive.bin").c_str(), path_size);
  text_copy(wa->target_path, (folder + "/out.bin").c_str(), target_size);
  wa->output_file = invalid_file;
  wa->archive_file = invalid_file;
  build_crc_table(crc_polynomial);
}

void DecodeTest::TearDown() {
  if (wa != nullptr) {
    if (wa->archive_file != invalid_file) sys_close_own_file(wa->archive_file);
    if (wa->output_file != invalid_file && wa->output_file != 0) sys_close_file(wa->output_file);
    sys_free(wa);
    wa = nullptr;
  }
  std::filesystem::remove_all(folder);
}

void DecodeTest::open_archive(const Bytes& data, const Bytes& trailer) {
  if (wa->archive_file != invalid_file) sys_close_own_file(wa->archive_file);
  Bytes file = data;
  file.insert(file.end(), trailer.begin(), trailer.end());
  write_file_bytes(wa->module_path, file);
  wa->archive_file = sys_open_own_file(wa->module_path);
  ASSERT_NE(wa->archive_file, invalid_file);
  wa->in_pos = 0xFFFFFFFFu;
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

Bytes recorded(const std::function<void()>& fn, std::vector<size_t>* sizes, uint64_t* count_only) {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
  Bytes bytes;
  std::thread reader([&] {
    Bytes buffer(1 << 18);
    for (ssize_t n; (n = recv(fds[1], buffer.data(), buffer.size(), 0)) > 0;) {
      if (sizes != nullptr) sizes->push_back(size_t(n));
      if (count_only != nullptr)
        *count_only += uint64_t(n);
      else
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
  });
  wa->output_file = fds[0];
  fn();
  close(fds[0]);
  reader.join();
  close(fds[1]);
  wa->output_file = invalid_file;
  return bytes;
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
