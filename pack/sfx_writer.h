// Writes the self-extracting file: the stub with its settings record, the optional
// integrity value, the special members, the members and the end mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/input_list.h"
#include "pack/output_file.h"
#include "pack/pack_options.h"
#include "pack/progress_display.h"
#include "pack/segment_matcher.h"

namespace pack {

// Longest texts the stub keeps of the message and the script.
constexpr size_t max_message = 1023;
constexpr size_t max_script = 4095;

struct SfxSummary {
  uint32_t archive_offset = 0;  // where the archive starts
  uint32_t members = 0;
  uint16_t crc_xor = 0;  // the integrity value
};

// Reads the message or script file and checks that the stub will see all of it.
// Throws PackError naming the option.
std::vector<uint8_t> load_special_text(const std::string& path, const char* option, size_t limit);

// Writes everything to out (which the caller commits). members: the listed PATHs.
SfxSummary write_sfx(const PackOptions& options, const std::vector<uint8_t>& stub,
                     const std::vector<PlannedMember>& members, OutputFile& out,
                     ProgressDisplay& progress, const EncoderTuning& tuning = EncoderTuning());

}  // namespace pack
