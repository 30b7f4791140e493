// The parts of the self-extracting file: member headers, the settings record, the stub
// check, the check of an existing archive, the command line and the member list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pack/archive_check.h"
#include "pack/crc16.h"
#include "pack/input_list.h"
#include "pack/member_header.h"
#include "pack/pack_error.h"
#include "pack/pack_options.h"
#include "pack/settings_record.h"
#include "pack/stub_file.h"

namespace {

using namespace pack;

unsigned get16(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8);
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return get16(b, at) | (get16(b, at + 2) << 16);
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/kobrix-pack-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::vector<uint8_t>& data) const {
    const std::string full = path_ + "/" + name;
    std::ofstream(full, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return full;
  }

 private:
  std::string path_;
};

// Extended headers of a header: type and data, in order.
std::vector<std::pair<int, std::vector<uint8_t>>> extended_headers(const std::vector<uint8_t>& h) {
  std::vector<std::pair<int, std::vector<uint8_t>>> found;
  for (size_t at = 24; get16(h, at) != 0; at += get16(h, at)) {
    const size_t size = get16(h, at);
    found.push_back({h[at + 2], std::vector<uint8_t>(h.begin() + at + 3, h.begin() + at + size)});
  }
  return found;
}

TEST(PackFileParts, MemberHeaderAsTheStubReadsIt) {
  MemberEntry entry;
  entry.name = "docs/sub/read me.txt";
  entry.time = 1262322000;
  entry.attributes = 0x21;
  entry.created = filetime_of(1262322000, 500);
  entry.written = filetime_of(0, 0);
  entry.accessed = 0x0123456789ABCDEFull;
  const std::vector<uint8_t> h = member_header(entry, '7', 1000, 3000, 0xBEEF);
  EXPECT_EQ(get16(h, 0), h.size());
  EXPECT_EQ(std::string(h.begin() + 2, h.begin() + 7), "-lh7-");
  EXPECT_EQ(get32(h, 7), 1000u);
  EXPECT_EQ(get32(h, 11), 3000u);
  EXPECT_EQ(get32(h, 15), 1262322000u);
  EXPECT_EQ(h[19], 0x21);
  EXPECT_EQ(h[20], 2);
  EXPECT_EQ(get16(h, 21), 0xBEEFu);
  EXPECT_EQ(h[23], 'W');
  const auto ext = extended_headers(h);
  ASSERT_EQ(ext.size(), 5u);
  EXPECT_EQ(ext[0].first, 0x00);
  EXPECT_EQ(ext[1].first, 0x01);
  EXPECT_EQ(std::string(ext[1].second.begin(), ext[1].second.end()), "read me.txt");
  EXPECT_EQ(ext[2].first, 0x02);
  EXPECT_EQ(std::string(ext[2].second.begin(), ext[2].second.end()), "docs\xffsub\xff");
  EXPECT_EQ(ext[3].first, 0x40);
  EXPECT_EQ(get16(ext[3].second, 0), 0x21u);
  EXPECT_EQ(ext[4].first, 0x41);
  ASSERT_EQ(ext[4].second.size(), 24u);
  // 2010-01-01 01:00:00 UTC and 50 ns; 1970 itself; the access time as given
  EXPECT_EQ(get32(ext[4].second, 0) | (uint64_t(get32(ext[4].second, 4)) << 32),
            129067956000000005ull);
  EXPECT_EQ(get32(ext[4].second, 8) | (uint64_t(get32(ext[4].second, 12)) << 32),
            116444736000000000ull);
  EXPECT_EQ(get32(ext[4].second, 16), 0x89ABCDEFu);
  // the CRC of the header with its CRC field zeroed
  std::vector<uint8_t> zeroed = h;
  const size_t crc_at = 24 + 3;
  const unsigned stored = get16(h, crc_at);
  zeroed[crc_at] = zeroed[crc_at + 1] = 0;
  EXPECT_EQ(crc16_update(0, zeroed.data(), zeroed.size()), stored);
}

TEST(PackFileParts, DirectoryMembersAndHeaderSizesEndingInZero) {
  MemberEntry folder;
  folder.name = "a/b/";
  folder.directory = true;
  const std::vector<uint8_t> h = member_header(folder, 'd', 0, 0, 0);
  const auto ext = extended_headers(h);
  EXPECT_TRUE(ext[1].second.empty());
  EXPECT_EQ(std::string(ext[2].second.begin(), ext[2].second.end()),
            "a\xff"
            "b\xff");
  // A top-level file has no directory header. No size has a low byte of 0: where it
  // would, an empty comment makes the header longer.
  int commented = 0;
  for (size_t len = 1; len <= max_member_name; ++len) {
    MemberEntry file;
    file.name = std::string(len, 'n');
    const std::vector<uint8_t> hf = member_header(file, '0', 0, 0, 0);
    EXPECT_NE(hf[0], 0) << len;
    EXPECT_EQ(get16(hf, 0), hf.size());
    const auto ext = extended_headers(hf);
    if (ext.size() == 5) {
      EXPECT_EQ(ext[4].first, 0x3F);
      EXPECT_TRUE(ext[4].second.empty());
      EXPECT_EQ(hf.size(), 259u);
      ++commented;
    } else {
      EXPECT_EQ(ext.size(), 4u);
    }
  }
  EXPECT_EQ(commented, 1);
}

TEST(PackFileParts, SettingsRecordFieldsAndWidths) {
  PackOptions options;
  options.title = std::string(40, 'T');
  options.install_title = "Install to";
  options.install_dir = "%ProgramFiles%\\App";
  options.command = std::string(255, 'c');
  options.flags = flag_auto_start | flag_integrity;
  options.restore_attributes = true;
  const std::vector<uint8_t> r = settings_record(options, 0x12345);
  ASSERT_EQ(r.size(), 603u);
  EXPECT_EQ(get32(r, 0), 0x12345u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[4])), options.title);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[45])), "Install to");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[86])), options.install_dir);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[342]), 255), options.command);
  EXPECT_EQ(r[597], 0);
  EXPECT_EQ(r[601], 0x05);
  EXPECT_EQ(r[602], '/');
  options.title += "x";
  EXPECT_THROW(settings_record(options, 0), PackError);
}

std::vector<uint8_t> bare_stub() {
  std::vector<uint8_t> stub(1120, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  stub[8] = 32;
  return stub;
}

TEST(PackFileParts, StubsWithoutRoomForTheRecordAreRefused) {
  EXPECT_EQ(stub_problem(bare_stub()), "");
  std::vector<uint8_t> stub = bare_stub();
  stub[8] = 4;
  EXPECT_NE(stub_problem(stub).find("declares 4 header paragraphs"), std::string::npos);
  stub = bare_stub();
  stub[1114] = 1;
  EXPECT_NE(stub_problem(stub).find("byte 1114"), std::string::npos);
  stub = bare_stub();
  stub[1115] = 1;  // behind the record: the stub's own business
  EXPECT_EQ(stub_problem(stub), "");
  stub = bare_stub();
  stub[0] = 'Z';
  EXPECT_NE(stub_problem(stub), "");
  stub = bare_stub();
  stub.resize(1114);
  EXPECT_NE(stub_problem(stub).find("too short"), std::string::npos);
  TempDir dir;
  try {
    load_stub(dir.write("notastub.exe", std::vector<uint8_t>(2000, 'A')));
    FAIL();
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find("notastub.exe"), std::string::npos);
  }
}

std::vector<uint8_t> member_record(const std::string& name, char method,
                                   const std::vector<uint8_t>& data, uint16_t crc) {
  MemberEntry entry;
  entry.name = name;
  entry.directory = method == 'd';
  std::vector<uint8_t> r = member_header(entry, method, static_cast<uint32_t>(data.size()),
                                         static_cast<uint32_t>(data.size()), crc);
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

std::string archive_problem(const std::vector<uint8_t>& archive) {
  TempDir dir;
  try {
    check_archive(dir.write("a.lzh", archive));
    return "";
  } catch (const PackError& e) {
    return e.what();
  }
}

void set_header_crc(std::vector<uint8_t>& a, size_t header_at) {
  const size_t crc_at = header_at + 27;
  a[crc_at] = a[crc_at + 1] = 0;
  const uint16_t crc = crc16_update(0, a.data() + header_at, get16(a, header_at));
  a[crc_at] = static_cast<uint8_t>(crc);
  a[crc_at + 1] = static_cast<uint8_t>(crc >> 8);
}

TEST(PackFileParts, ExistingArchivesAreCheckedHeaderByHeader) {
  std::vector<uint8_t> good = member_record("dir/", 'd', {}, 0);
  const std::vector<uint8_t> second = member_record("dir/a.txt", '0', {'a', 'b', 'c'}, 0x9738);
  good.insert(good.end(), second.begin(), second.end());
  good.push_back(0);
  EXPECT_EQ(archive_problem(good), "");
  {
    TempDir dir;
    const ArchiveSummary summary = check_archive(dir.write("a.lzh", good));
    EXPECT_EQ(summary.members, 2u);
    EXPECT_EQ(summary.crc_xor, 0x9738);
  }
  const size_t second_at = good.size() - 1 - second.size();

  std::vector<uint8_t> bad = good;
  bad[second_at + 5] = '8';  // -lh8-
  set_header_crc(bad, second_at);
  EXPECT_NE(archive_problem(bad).find("offset " + std::to_string(second_at)), std::string::npos);

  bad = good;
  bad[second_at + 33] ^= 1;  // one bit of the name, CRC left as it was
  EXPECT_NE(archive_problem(bad).find("wrong header CRC"), std::string::npos);

  bad = good;
  bad[second_at + 20] = 1;
  set_header_crc(bad, second_at);
  EXPECT_NE(archive_problem(bad).find("level 1"), std::string::npos);

  bad = good;
  bad[second_at + 7] = 4;  // a stored member with packed size 4, unpacked 3
  set_header_crc(bad, second_at);
  EXPECT_NE(archive_problem(bad).find("sizes differ"), std::string::npos);

  bad = good;
  bad.resize(bad.size() - 3);  // the data runs past the end
  EXPECT_NE(archive_problem(bad).find("past the end"), std::string::npos);

  bad = good;
  bad[second_at + 24] = 0xF0;  // the first extended header claims more than the header
  EXPECT_NE(archive_problem(bad).find("extended header"), std::string::npos);
}

TEST(PackFileParts, CorpusArchivesAreAcceptedExactlyWhenTheStubReadsThemWhole) {
  const std::string corpus = KOBRIX_CORPUS_DIR;
  std::ifstream manifest(corpus + "/manifest.jsonl");
  if (!manifest) GTEST_SKIP() << "corpus not found at " << corpus;
  int checked = 0;
  std::string line;
  while (std::getline(manifest, line)) {
    const auto field = [&](const std::string& key) {
      const size_t at = line.find("\"" + key + "\": \"");
      if (at == std::string::npos) return std::string();
      const size_t begin = at + key.size() + 5;
      return line.substr(begin, line.find('"', begin) - begin);
    };
    const std::string archive = field("archive"), outcome = field("outcome");
    if (archive.empty()) continue;
    std::string problem;
    try {
      check_archive(corpus + "/" + archive);
    } catch (const PackError& e) {
      problem = e.what();
    }
    // Archives the stub reads fully must pass; those it stops on must be refused. (A
    // level byte other than 2 or a too long name is refused here even where the stub
    // would carry on.)
    if (outcome == "ok") {
      EXPECT_TRUE(problem.empty() || problem.find("level") != std::string::npos ||
                  problem.find("member name") != std::string::npos)
          << archive << ": " << problem;
    } else {
      EXPECT_FALSE(problem.empty()) << archive << " (" << outcome << ")";
    }
    ++checked;
  }
  EXPECT_GT(checked, 5);
}

TEST(PackFileParts, OptionsNameWhatDoesNotFit) {
  auto parse = [](std::vector<std::string> args) { return parse_options(args); };
  PackOptions o = parse({"-o", "out.exe", "--title=Setup", "--auto-start", "--integrity", "-C",
                         "base", "a", "-C", "sub", "b", "-C", "/abs", "c", "--", "-d"});
  EXPECT_EQ(o.output, "out.exe");
  EXPECT_EQ(o.title, "Setup");
  EXPECT_EQ(o.flags, flag_auto_start | flag_integrity);
  ASSERT_EQ(o.inputs.size(), 4u);
  EXPECT_EQ(o.inputs[0].folder, "base");
  EXPECT_EQ(o.inputs[1].folder, "base/sub");
  EXPECT_EQ(o.inputs[2].folder, "/abs");
  EXPECT_EQ(o.inputs[3].path, "-d");
  EXPECT_EQ(parse({"-o", "x", "--method", "lh5", "a"}).method, '5');

  auto error_of = [&](std::vector<std::string> args) {
    try {
      parse(args);
      return std::string();
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
  };
  EXPECT_NE(error_of({"-o", "x", "--title", std::string(41, 't'), "a"}).find("--title"),
            std::string::npos);
  EXPECT_NE(
      error_of({"-o", "x", "--install-title", std::string(41, 't'), "a"}).find("--install-title"),
      std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--dir", std::string(256, 'd'), "a"}).find("--dir"),
            std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--command", std::string(256, 'c'), "a"}).find("--command"),
            std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--method", "lh4", "a"}).find("--method"), std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--stub"}).find("--stub"), std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--bogus", "a"}).find("--bogus"), std::string::npos);
  EXPECT_NE(error_of({"a"}).find("-o"), std::string::npos);
  EXPECT_NE(error_of({"-o", "x"}).find("nothing to pack"), std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--archive", "a.lzh", "b"}).find("--archive"), std::string::npos);
  EXPECT_EQ(error_of({"-o", "x", "--title", std::string(40, 't'), "a"}), "");
}

TEST(PackFileParts, MemberNames) {
  EXPECT_EQ(member_name_of("./docs//a.txt"), "docs/a.txt");
  EXPECT_EQ(member_name_of("/etc/hosts"), "etc/hosts");
  EXPECT_EQ(member_name_of("."), "");
  EXPECT_THROW(member_name_of("docs/../../x"), PackError);
  EXPECT_NO_THROW(check_member_name(std::string(259, 'n'), "x"));
  EXPECT_THROW(check_member_name(std::string(260, 'n'), "x"), PackError);
  EXPECT_THROW(check_member_name("a\\b", "x"), PackError);
  EXPECT_THROW(check_member_name("!", "x"), PackError);
  EXPECT_THROW(check_member_name("$", "x"), PackError);
  EXPECT_NO_THROW(check_member_name("sub/!", "x"));
}

TEST(PackFileParts, FoldersAreListedBeforeTheirContentsInNameOrder) {
  TempDir dir;
  mkdir((dir.path() + "/top").c_str(), 0755);
  mkdir((dir.path() + "/top/empty").c_str(), 0755);
  mkdir((dir.path() + "/top/b").c_str(), 0755);
  dir.write("top/b/z.txt", {'z'});
  dir.write("top/a.txt", {'a', 'a'});
  dir.write("top/c.txt", {});
  chmod((dir.path() + "/top/c.txt").c_str(), 0444);
  std::vector<std::string> names;
  const std::vector<PlannedMember> members = list_members({{dir.path(), "top"}}, {});
  for (const PlannedMember& m : members) names.push_back(m.entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"top/", "top/a.txt", "top/b/", "top/b/z.txt",
                                             "top/c.txt", "top/empty/"}));
  EXPECT_TRUE(members[0].entry.directory);
  EXPECT_EQ(members[0].entry.attributes, 0x10);
  EXPECT_EQ(members[1].entry.attributes, 0x20);
  EXPECT_EQ(members[1].size, 2u);
  EXPECT_EQ(members[4].entry.attributes, 0x21);

  // "." stores the contents without the folder's own name; the same file twice is refused
  std::vector<std::string> inner;
  for (const PlannedMember& m : list_members({{dir.path() + "/top", "."}}, {}))
    inner.push_back(m.entry.name);
  EXPECT_EQ(inner.front(), "a.txt");
  EXPECT_THROW(list_members({{dir.path(), "top"}, {dir.path(), "top/a.txt"}}, {}), PackError);
  try {
    list_members({{dir.path(), "missing.txt"}}, {});
    FAIL();
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.txt"), std::string::npos);
  }
}

}  // namespace
