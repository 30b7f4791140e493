#include "pack/sfx_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "format/lzh_format.h"
#include "pack/archive_check.h"
#include "pack/crc16.h"
#include "pack/file_source.h"
#include "pack/match_pipeline.h"
#include "pack/member_encoder.h"
#include "pack/pack_error.h"
#include "pack/settings_record.h"

namespace pack {
namespace {

// The stub reads its own file with 32-bit signed offsets.
constexpr uint64_t max_output = uint64_t(1) << 31;

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<uint8_t>& data) : data_(data) {}
  size_t read(uint8_t* buffer, size_t size) override {
    size = std::min(size, data_.size() - at_);
    std::memcpy(buffer, data_.data() + at_, size);
    at_ += size;
    return size;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t at_ = 0;
};

struct Copied {
  uint64_t size = 0;
  uint16_t crc = 0;
};

// Copies a file as it stands into the output.
Copied copy_stored(const std::string& path, OutputFile& out, ProgressDisplay& progress,
                   uint64_t done_before, const std::string& name) {
  constexpr size_t buffer_size = 1 << 20;
  FileSource source(path);
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[buffer_size]);  // not zero-filled
  Copied copied;
  while (size_t n = source.read(buffer.get(), buffer_size)) {
    if (copied.size + n > 0xFFFFFFFFull) {
      throw PackError(about_file(path, "4 GiB or larger; a member holds less than 4 GiB"));
    }
    copied.crc = crc16_update(copied.crc, buffer.get(), n);
    copied.size += n;
    out.write(buffer.get(), n);
    progress.update(done_before + copied.size, name);
  }
  return copied;
}

class SfxWriter {
 public:
  SfxWriter(const PackOptions& options, OutputFile& out, ProgressDisplay& progress)
      : out_(out),
        progress_(progress),
        tuning_(tuning_for_level(options.level)),
        threads_(options.threads > 0 ? std::min(options.threads, available_cores())
                                     : available_cores()) {
    method_of(options.method, &method_);
  }

  void write_text_member(const std::string& name, const std::string& path,
                         const std::vector<uint8_t>& text);
  void write_members(const std::vector<PlannedMember>& members);

  uint16_t crc_xor = 0;

 private:
  // Sets the method, sizes and CRC of the file member whose header was written at `at`.
  void finish_header(uint64_t at, const MemberEntry& entry, char method, uint64_t packed,
                     uint64_t size, uint16_t crc);

  OutputFile& out_;
  ProgressDisplay& progress_;
  const EncoderTuning tuning_;
  const int threads_;
  Method method_;
  uint64_t done_ = 0;  // input bytes packed so far
};

void SfxWriter::finish_header(uint64_t at, const MemberEntry& entry, char method, uint64_t packed,
                              uint64_t size, uint16_t crc) {
  const std::vector<uint8_t> header =
      member_header(entry, method, static_cast<uint32_t>(packed), static_cast<uint32_t>(size), crc);
  out_.write_at(at, header.data(), header.size());
  crc_xor ^= crc;
}

void SfxWriter::write_text_member(const std::string& name, const std::string& path,
                                  const std::vector<uint8_t>& text) {
  MemberEntry entry;
  describe_file(path, &entry);
  entry.name = name;
  const uint16_t crc = crc16_update(0, text.data(), text.size());
  std::vector<uint8_t> packed;
  if (method_.digit != method_stored) {
    MemberEncoder encoder(method_, tuning_);
    MemorySource source(text);
    encoder.encode(source, &packed);
  }
  const bool stored = method_.digit == method_stored || packed.size() >= text.size();
  const std::vector<uint8_t>& data = stored ? text : packed;
  const char method = stored ? method_stored : method_.digit;
  out_.write(member_header(entry, method, static_cast<uint32_t>(data.size()),
                           static_cast<uint32_t>(text.size()), crc));
  out_.write(data);
  crc_xor ^= crc;
}

void SfxWriter::write_members(const std::vector<PlannedMember>& members) {
  // The files to compress are coded in units on the pipeline's threads.
  std::vector<PipelineMember> files;
  std::vector<size_t> item_of(members.size(), SIZE_MAX);
  if (method_.digit != method_stored) {
    for (size_t i = 0; i < members.size(); ++i) {
      if (members[i].entry.directory) continue;
      item_of[i] = files.size();
      files.push_back({members[i].path, members[i].size});
    }
  }
  std::unique_ptr<MatchPipeline> pipeline;
  if (!files.empty()) pipeline = std::make_unique<MatchPipeline>(method_, tuning_, files, threads_);
  BitWriter bits;
  std::vector<uint8_t> bytes;

  for (size_t i = 0; i < members.size(); ++i) {
    const PlannedMember& member = members[i];
    const MemberEntry& entry = member.entry;
    progress_.update(done_, entry.name);
    if (entry.directory) {
      out_.write(member_header(entry, method_directory, 0, 0, 0));
      continue;
    }
    const uint64_t at = out_.size();
    // The header goes first with the sizes unknown; it keeps its length when they are set.
    out_.write(member_header(entry, method_.digit, 0, 0, 0));
    const uint64_t data_at = out_.size();
    if (item_of[i] == SIZE_MAX) {
      const Copied copied = copy_stored(member.path, out_, progress_, done_, entry.name);
      finish_header(at, entry, method_stored, copied.size, copied.size, copied.crc);
      done_ += copied.size;
      continue;
    }
    uint16_t crc = 0;
    const size_t first = pipeline->first_unit(item_of[i]),
                 end = pipeline->first_unit(item_of[i] + 1);
    for (size_t u = first; u < end; ++u) {
      const std::unique_ptr<UnitResult> unit = pipeline->take(u);
      if (!unit->error.empty()) throw PackError(unit->error);
      crc = crc16_update(crc, unit->input.data() + unit->prime, unit->input.size() - unit->prime);
      bits.append(unit->bits);
      bits.take_whole_bytes(&bytes);
      out_.write(bytes);
      progress_.update(done_ + pipeline->unit_end(u), entry.name);
    }
    bits.flush();
    bits.take_whole_bytes(&bytes);
    out_.write(bytes);
    const uint64_t size = member.size;
    const uint64_t packed = out_.size() - data_at;
    if (packed < size) {
      finish_header(at, entry, method_.digit, packed, size, crc);
    } else {
      // It did not shrink: stored as it stands, read once more.
      out_.truncate(data_at);
      const Copied copied = copy_stored(member.path, out_, progress_, done_, entry.name);
      if (copied.size != size || copied.crc != crc) {
        throw PackError(about_file(member.path, "changed while it was being packed"));
      }
      finish_header(at, entry, method_stored, copied.size, copied.size, copied.crc);
    }
    done_ += size;
  }
}

}  // namespace

void write_sfx(const PackOptions& options, const std::vector<uint8_t>& stub,
               const SpecialText& message, const SpecialText& script,
               const std::vector<PlannedMember>& members, OutputFile& out,
               ProgressDisplay& progress) {
  out.set_limit(max_output, "would reach 2 GiB; the stub reads its own file with 32-bit offsets");
  const uint32_t archive_offset = static_cast<uint32_t>(stub.size());
  std::vector<uint8_t> head = stub;
  const std::vector<uint8_t> record = settings_record(options, archive_offset);
  std::copy(record.begin(), record.end(), head.begin() + settings_offset);
  out.write(head);
  const bool integrity = (options.flags & settings_integrity_value) != 0;
  if (integrity) out.write({0, 0});

  // The stub reads a header size in two bytes, so the archive ends with two zero
  // bytes: with one, a signature appended behind the file (osslsigncode) would give
  // that size its high byte whenever the file's length is a multiple of 8.
  SfxWriter writer(options, out, progress);
  if (!options.archive.empty()) {
    const ArchiveSummary summary = check_archive(options.archive, CodePage(options.code_page));
    writer.crc_xor = summary.crc_xor;
    copy_stored(options.archive, out, progress, 0, options.archive);
    const uint8_t zeros[2] = {0, 0};
    out.write(zeros, summary.missing_end);
  } else {
    if (!message.path.empty()) writer.write_text_member("!", message.path, message.text);
    if (!script.path.empty()) writer.write_text_member("$", script.path, script.text);
    writer.write_members(members);
    out.write({0, 0});
  }
  if (integrity) {
    const uint8_t value[2] = {static_cast<uint8_t>(writer.crc_xor),
                              static_cast<uint8_t>(writer.crc_xor >> 8)};
    out.write_at(archive_offset, value, 2);
  }
}

}  // namespace pack
