// The parts of the self-extracting file: member headers, the settings record, the stub
// check, the check of an existing archive, the command line, the member list, the code
// page of names and texts, and the script read as the stub reads it.
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
#include "pack/code_page.h"
#include "pack/input_list.h"
#include "pack/member_header.h"
#include "pack/message_and_script.h"
#include "pack/pack_error.h"
#include "pack/pack_options.h"
#include "pack/settings_record.h"
#include "pack/stub_file.h"
#include "support_lzh_decoder.h"

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
  EXPECT_EQ(reference_crc16(zeroed.data(), zeroed.size()), stored);
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
  options.flags = settings_auto_start | settings_integrity_value;
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

std::string archive_problem(const std::vector<uint8_t>& archive,
                            std::vector<std::string>* warnings = nullptr) {
  TempDir dir;
  try {
    const ArchiveSummary summary = check_archive(dir.write("a.lzh", archive), CodePage(932));
    if (warnings != nullptr) *warnings = summary.warnings;
    return "";
  } catch (const PackError& e) {
    return e.what();
  }
}

void set_header_crc(std::vector<uint8_t>& a, size_t header_at) {
  const size_t crc_at = header_at + 27;
  a[crc_at] = a[crc_at + 1] = 0;
  const uint16_t crc = reference_crc16(a.data() + header_at, get16(a, header_at));
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
    const ArchiveSummary summary = check_archive(dir.write("a.lzh", good), CodePage(932));
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

  // Names that would leave the extraction folder are refused; those Windows cannot hold
  // are warned about. A Shift-JIS trail byte 0x5C is no separator.
  auto named = [](std::vector<std::string> names) {
    std::vector<uint8_t> a;
    for (const std::string& name : names) {
      const std::vector<uint8_t> m = member_record(name, '0', {'x'}, 0);
      a.insert(a.end(), m.begin(), m.end());
    }
    a.push_back(0);
    return a;
  };
  for (const char* away : {"../x.txt", "a/../../x.txt", "/x.txt", "C:x.txt", "a\\..\\..\\x"}) {
    EXPECT_NE(archive_problem(named({away})).find("outside the extraction folder"),
              std::string::npos)
        << away;
  }
  std::vector<std::string> warnings;
  EXPECT_EQ(archive_problem(named({"\x95\x5C/a.txt", "%WinDir%/x.fon", "a..txt"}), &warnings), "");
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  EXPECT_EQ(archive_problem(named({"con.txt", "ab:c", "Doc/a", "doc/b", "\x82"}), &warnings), "");
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_NE(warnings[0].find("device name"), std::string::npos);
  EXPECT_NE(warnings[1].find("\":\""), std::string::npos);
  EXPECT_NE(warnings[2].find("only in case"), std::string::npos);
  EXPECT_NE(warnings[3].find("not text of code page 932"), std::string::npos);
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
      check_archive(corpus + "/" + archive, CodePage(932));
    } catch (const PackError& e) {
      problem = e.what();
    }
    // Archives the stub reads fully must pass; those it stops on must be refused. (A
    // level byte other than 2, a too long name or a name that leaves the extraction
    // folder is refused here even where the stub would carry on.)
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

TEST(PackFileParts, OptionsNameWhatDoesNotFit) {
  auto parse = [](std::vector<std::string> args) { return parse_options(args); };
  PackOptions o = parse({"-o", "out.exe", "--title=Setup", "--auto-start", "--integrity", "-C",
                         "base", "a", "-C", "sub", "b", "-C", "/abs", "c", "--", "-d"});
  EXPECT_EQ(o.output, "out.exe");
  EXPECT_EQ(o.title, "Setup");
  EXPECT_EQ(o.flags, settings_auto_start | settings_integrity_value);
  ASSERT_EQ(o.inputs.size(), 4u);
  EXPECT_EQ(o.inputs[0].folder, "base");
  EXPECT_EQ(o.inputs[1].folder, "base/sub");
  EXPECT_EQ(o.inputs[2].folder, "/abs");
  EXPECT_EQ(o.inputs[3].path, "-d");
  EXPECT_EQ(parse({"-o", "x", "--method", "lh5", "a"}).method, '5');

  // Widths count the bytes in the code page: 20 Japanese characters are 40 bytes there.
  auto error_of = [&](std::vector<std::string> args) {
    try {
      PackOptions options = parse(args);
      encode_settings_texts(CodePage(options.code_page), &options);
      return std::string();
    } catch (const PackError& e) {
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
  std::string japanese;
  for (int i = 0; i < 20; ++i) japanese += "\xE6\x97\xA5";  // 20 times U+65E5
  EXPECT_EQ(error_of({"-o", "x", "--title", japanese, "a"}), "");
  EXPECT_NE(error_of({"-o", "x", "--title", japanese + "x", "a"}).find("--title"),
            std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--codepage", "1252", "--title", japanese, "a"}).find("1252"),
            std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--codepage", "65001", "a"}).find("--codepage"),
            std::string::npos);
  EXPECT_NE(error_of({"-o", "x", "--codepage", "x", "a"}).find("--codepage"), std::string::npos);
}

TEST(PackFileParts, ScriptLinesTheStubReadsOtherwiseAreNamed) {
  const std::string script =
      "; a comment\r\n$Flag=0x10\r\n$Flagg=1\r\n $Command=x\r\n$Group=G,T\r\n"
      "$Group=G,T,P.EXE,\r\n$Class=.ext,Desc,P.EXE\r\n$Class=.e,\"A, B\",P.EXE,Key\r\n"
      "$Class=.e,D,P.EXE," +
      std::string(61, 'k') + "\r\n$WindowTitle=S\r\n$Flag=17\r\n$InstallDir=\r\n";
  PackOptions options;
  options.title = "T";
  options.install_dir = "C:\\App";                   // $InstallDir= is empty: no note
  options.flags = settings_auto_start | settings_no_overwrite_prompt;  // $Flag= leaves overwriting alone
  options.restore_attributes = true;
  const std::vector<std::string> remarks =
      script_remarks(std::vector<uint8_t>(script.begin(), script.end()), options);
  const std::vector<std::string> starts = {
      "line 2: $Flag=0x10 is not a decimal number; the stub reads it as 0",
      "line 3: \"$Flagg=\" is no key",
      "line 4: starts with a blank",
      "line 5: $Group= has 2 fields",
      "line 7: $Class= has 3 fields",
      "line 9: $Class= class key",
      "note: --title and $WindowTitle= (line 10)",
      "note: --auto-start and $Flag= (line 11) both set auto start; the stub uses $Flag=, which "
      "turns it on",
      "note: --restore-attributes and $Flag= (line 11)",
  };
  ASSERT_EQ(remarks.size(), starts.size()) << remarks.front();
  for (size_t i = 0; i < starts.size(); ++i) {
    EXPECT_EQ(remarks[i].compare(0, starts[i].size(), starts[i]), 0) << remarks[i];
  }
}

TEST(PackFileParts, NamesAndTextsInTheCodePage) {
  const CodePage cp932(932), cp1252(1252);
  EXPECT_EQ(cp1252.encode("caf\xC3\xA9", "t"), "caf\xE9");
  EXPECT_EQ(cp932.encode("\xE8\xA1\xA8.txt", "t"), "\x95\x5C.txt");  // U+8868, trail byte 0x5C
  EXPECT_EQ(cp932.encode("\x83\x65", "t"), "\x83\x65");              // already code page text: kept
  auto refusal = [](const CodePage& cp, const std::string& text) {
    try {
      cp.encode(text, "NAME");
      return std::string();
    } catch (const PackError& e) {
      return std::string(e.what());
    }
  };
  // A Latin accent names the code page that holds it; U+00A5 and U+301C are taken by the
  // converter to bytes that read back as other characters (0x5C, a backslash).
  EXPECT_NE(refusal(cp932, "caf\xC3\xA9").find("NAME: U+00E9"), std::string::npos);
  EXPECT_NE(refusal(cp932, "caf\xC3\xA9").find("--codepage 1252"), std::string::npos);
  EXPECT_NE(refusal(cp932, "\xC2\xA5").find("U+00A5"), std::string::npos);
  EXPECT_NE(refusal(cp932, "\xE3\x80\x9C").find("U+FF5E"), std::string::npos);
  EXPECT_NE(refusal(cp1252, "\xE6\x97\xA5").find("--codepage 932"), std::string::npos);
  EXPECT_NE(refusal(cp932, "\xFF\xFE").find("neither UTF-8"), std::string::npos);
}

TEST(PackFileParts, MemberNames) {
  EXPECT_EQ(member_name_of("./docs//a.txt"), "docs/a.txt");
  EXPECT_EQ(member_name_of("/etc/hosts"), "etc/hosts");
  EXPECT_EQ(member_name_of("."), "");
  EXPECT_THROW(member_name_of("docs/../../x"), PackError);
  const CodePage cp932(932), cp1252(1252);
  EXPECT_NO_THROW(check_member_name(std::string(259, 'n'), "x", cp932));
  EXPECT_THROW(check_member_name(std::string(260, 'n'), "x", cp932), PackError);
  EXPECT_THROW(check_member_name("a\\b", "x", cp932), PackError);
  EXPECT_THROW(check_member_name("!", "x", cp932), PackError);
  EXPECT_THROW(check_member_name("$", "x", cp932), PackError);
  EXPECT_NO_THROW(check_member_name("sub/!", "x", cp932));
  // 0x5C and 0xFF are separators to the stub only where they are no trail byte
  EXPECT_NO_THROW(check_member_name("\x95\x5C.txt", "x", cp932));
  EXPECT_THROW(check_member_name("\x95\x5C.txt", "x", cp1252), PackError);
  EXPECT_THROW(check_member_name("\xFF.txt", "x", cp1252), PackError);
}

TEST(PackFileParts, FoldersAreListedBeforeTheirContentsInNameOrder) {
  const CodePage cp932(932);
  TempDir dir;
  mkdir((dir.path() + "/top").c_str(), 0755);
  mkdir((dir.path() + "/top/empty").c_str(), 0755);
  mkdir((dir.path() + "/top/b").c_str(), 0755);
  dir.write("top/b/z.txt", {'z'});
  dir.write("top/a.txt", {'a', 'a'});
  dir.write("top/c.txt", {});
  chmod((dir.path() + "/top/c.txt").c_str(), 0444);
  std::vector<std::string> names;
  const std::vector<PlannedMember> members = list_members({{dir.path(), "top"}}, cp932, "");
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
  for (const PlannedMember& m : list_members({{dir.path() + "/top", "."}}, cp932, ""))
    inner.push_back(m.entry.name);
  EXPECT_EQ(inner.front(), "a.txt");
  EXPECT_THROW(list_members({{dir.path(), "top"}, {dir.path(), "top/a.txt"}}, cp932, ""),
               PackError);
  try {
    list_members({{dir.path(), "missing.txt"}}, cp932, "");
    FAIL();
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.txt"), std::string::npos);
  }
}

}  // namespace
