// The parts of the self-extracting file: member headers, the stub check, the check of an
// existing archive, options and the member list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/archive_check.h"
#include "pack/code_page.h"
#include "pack/input_list.h"
#include "pack/member_header.h"
#include "pack/pack_error.h"
#include "pack/pack_options.h"
#include "pack/settings_record.h"
#include "pack/stub_file.h"
#include "support_lzh_decoder.h"

using namespace pack;
using Bytes = std::vector<uint8_t>;

struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/kobrix-pack-test-XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string write(const std::string& name, const Bytes& data) const {
    std::ofstream(path + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return path + "/" + name;
  }
};

// The message of the PackError fn throws; empty when it throws none.
template <typename Fn>
std::string error_of(Fn fn) {
  try {
    fn();
  } catch (const PackError& e) {
    return e.what();
  }
  return "";
}

TEST(PackFileParts, NoHeaderSizeEndsInAZeroByte) {
  // Fields and names are read back by the round trips through lhasa, 7zz and
  // the runner. A header size with a low byte of 0 would read as the
  // archive's end: an empty comment makes that one header longer.
  for (size_t len = 1; len <= max_member_name; ++len) {
    MemberEntry file;
    file.name = std::string(len, 'n');
    const Bytes hf = member_header(file, '0', 0, 0, 0);
    EXPECT_NE(hf[0], 0) << len;
    EXPECT_EQ(hf[0] | hf[1] << 8, int(hf.size()));
  }
}

TEST(PackFileParts, StubsWithoutRoomForTheSettingsRecordAreRefused) {
  // The record takes bytes up to 1114 of the stub; behind it is the stub's own.
  Bytes stub(1120, 0);
  stub[0] = 'M', stub[1] = 'Z', stub[8] = 32;
  stub[1115] = 1;
  EXPECT_EQ(stub_problem(stub), "");
  stub[1114] = 1;
  EXPECT_NE(stub_problem(stub).find("byte 1114"), std::string::npos);
  stub.resize(1114);
  EXPECT_NE(stub_problem(stub).find("too short"), std::string::npos);
}

Bytes member_record(const std::string& name, char method, const Bytes& data, uint16_t crc) {
  MemberEntry entry;
  entry.name = name;
  entry.directory = method == 'd';
  Bytes r = member_header(entry, method, uint32_t(data.size()), uint32_t(data.size()), crc);
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

std::string archive_problem(const Bytes& archive, std::vector<std::string>* warnings = nullptr) {
  TempDir dir;
  return error_of([&] {
    const ArchiveSummary summary = check_archive(dir.write("a.lzh", archive), CodePage(932));
    if (warnings != nullptr) *warnings = summary.warnings;
  });
}

TEST(PackFileParts, ExistingArchivesAreCheckedHeaderByHeader) {
  Bytes good = member_record("dir/", 'd', {}, 0);
  const Bytes second = member_record("dir/a.txt", '0', {'a', 'b', 'c'}, 0x9738);
  good.insert(good.end(), second.begin(), second.end());
  good.push_back(0);
  EXPECT_EQ(archive_problem(good), "");
  const size_t at = good.size() - 1 - second.size();
  // A change at an offset of the second header, its CRC made right again or not.
  const std::tuple<size_t, uint8_t, bool, std::string> damaged[] = {
      {5, '8', true, "offset " + std::to_string(at)},  // -lh8-
      {33, 'b', false, "wrong header CRC"},
      {20, 1, true, "level 1"},
      {7, 4, true, "sizes differ"},  // stored, packed 4 and unpacked 3
      {24, 0xF0, false, "extended header"},
  };
  for (const auto& [offset, value, fix_crc, wanted] : damaged) {
    Bytes bad = good;
    bad[at + offset] = value;
    if (fix_crc) {
      bad[at + 27] = bad[at + 28] = 0;
      const uint16_t crc = crc16_bitwise(&bad[at], bad[at] | bad[at + 1] << 8);
      bad[at + 27] = uint8_t(crc), bad[at + 28] = uint8_t(crc >> 8);
    }
    EXPECT_NE(archive_problem(bad).find(wanted), std::string::npos) << wanted;
  }
  good.resize(good.size() - 3);
  EXPECT_NE(archive_problem(good).find("past the end"), std::string::npos);

  // Names that would leave the extraction folder are refused; those Windows cannot hold
  // are warned about. A Shift-JIS trail byte 0x5C is no separator.
  auto named = [](std::vector<std::string> names) {
    Bytes a;
    for (const std::string& name : names) {
      const Bytes m = member_record(name, '0', {'x'}, 0);
      a.insert(a.end(), m.begin(), m.end());
    }
    a.push_back(0);
    return a;
  };
  for (const char* away : {"../x.txt", "a/../../x.txt", "/x.txt", "C:x.txt", "a\\..\\..\\x"})
    EXPECT_NE(archive_problem(named({away})).find("outside the extraction folder"),
              std::string::npos)
        << away;
  std::vector<std::string> warnings;
  EXPECT_EQ(archive_problem(named({"\x95\x5C/a.txt", "a..txt"}), &warnings), "");
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  EXPECT_EQ(archive_problem(named({"con.txt", "ab:c", "Doc/a", "doc/b", "\x82"}), &warnings), "");
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_NE(warnings[3].find("not text of code page 932"), std::string::npos);
}

TEST(PackFileParts, CorpusArchivesAreAcceptedExactlyWhenTheStubReadsThemWhole) {
  const std::string corpus = KOBRIX_CORPUS_DIR;
  std::ifstream manifest(corpus + "/manifest.jsonl");
  if (!manifest) GTEST_SKIP() << "corpus not found at " << corpus;
  int checked = 0;
  for (std::string line; std::getline(manifest, line);) {
    const auto field = [&](const std::string& key) {
      const size_t at = line.find("\"" + key + "\": \"");
      if (at == std::string::npos) return std::string();
      const size_t begin = at + key.size() + 5;
      return line.substr(begin, line.find('"', begin) - begin);
    };
    const std::string archive = field("archive"), outcome = field("outcome");
    if (archive.empty()) continue;
    const std::string problem =
        error_of([&] { check_archive(corpus + "/" + archive, CodePage(932)); });
    // Archives the stub reads fully pass, but for a level other than 2, a too long name
    // or one that leaves the extraction folder; those it stops on are refused.
    if (outcome == "ok") {
      EXPECT_TRUE(problem.empty() || problem.find("level") != std::string::npos ||
                  problem.find("member name") != std::string::npos ||
                  problem.find("outside the extraction folder") != std::string::npos)
          << archive << ": " << problem;
    } else {
      EXPECT_FALSE(problem.empty()) << archive << " (" << outcome << ")";
    }
    ++checked;
  }
  EXPECT_GT(checked, 5);
}

TEST(PackFileParts, OptionsAndTheWidthsOfTextsInTheCodePage) {
  PackOptions o = parse_options({"-o", "out.exe", "--auto-start", "--integrity", "-C", "base", "a",
                                 "-C", "sub", "b", "-C", "/abs", "c", "--", "-d"});
  ASSERT_EQ(o.inputs.size(), 4u);
  EXPECT_EQ(o.inputs[1].folder, "base/sub");
  EXPECT_EQ(o.inputs[2].folder, "/abs");
  EXPECT_EQ(o.inputs[3].path, "-d");

  // Widths count bytes in the code page: 20 Japanese characters are 40 bytes in 932.
  std::string japanese;
  for (int i = 0; i < 20; ++i) japanese += "\xE6\x97\xA5";  // U+65E5
  for (const auto& [code_page, extra, fits] :
       {std::tuple{932, "", true}, {932, "x", false}, {1252, "", false}}) {
    o.title = japanese + extra;
    o.code_page = code_page;
    EXPECT_EQ(error_of([&] { encode_settings_texts(CodePage(o.code_page), &o); }).empty(), fits)
        << code_page << extra;
  }
}

TEST(PackFileParts, MemberNamesAndTheListInNameOrder) {
  EXPECT_EQ(member_name_of("./docs//a.txt"), "docs/a.txt");
  EXPECT_THROW(member_name_of("docs/../../x"), PackError);
  const CodePage cp932(932), cp1252(1252);
  // "!" and "$" at the top are the message and script members.
  for (const char* name : {"a\\b", "!", "$"})
    EXPECT_THROW(check_member_name(name, "x", cp932), PackError) << name;
  EXPECT_NO_THROW(check_member_name("sub/!", "x", cp932));
  // 0x5C and 0xFF are separators to the stub only where they are no trail byte.
  EXPECT_NO_THROW(check_member_name("\x95\x5C.txt", "x", cp932));
  EXPECT_THROW(check_member_name("\x95\x5C.txt", "x", cp1252), PackError);
  EXPECT_THROW(check_member_name("\xFF.txt", "x", cp1252), PackError);

  // Folders come before their contents, in name order.
  TempDir dir;
  for (const char* folder : {"/top", "/top/empty", "/top/b"})
    mkdir((dir.path + folder).c_str(), 0755);
  dir.write("top/b/z.txt", {'z'});
  dir.write("top/a.txt", {'a', 'a'});
  dir.write("top/c.txt", {});
  chmod((dir.path + "/top/c.txt").c_str(), 0444);
  std::vector<std::string> names;
  const std::vector<PlannedMember> members = list_members({{dir.path, "top"}}, cp932, "");
  for (const PlannedMember& m : members) names.push_back(m.entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"top/", "top/a.txt", "top/b/", "top/b/z.txt",
                                             "top/c.txt", "top/empty/"}));
  EXPECT_EQ(members[1].size, 2u);
  EXPECT_EQ(members[4].entry.attributes, 0x21);
  // "." stores the contents without the folder's own name; the same file twice is refused.
  EXPECT_EQ(list_members({{dir.path + "/top", "."}}, cp932, "").front().entry.name, "a.txt");
  EXPECT_THROW(list_members({{dir.path, "top"}, {dir.path, "top/a.txt"}}, cp932, ""), PackError);
}
