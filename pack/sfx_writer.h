// Writes the self-extracting file: the stub with its settings record, the optional
// integrity value, the special members, the members and the end mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/input_list.h"
#include "pack/message_and_script.h"
#include "pack/output_file.h"
#include "pack/pack_options.h"
#include "pack/progress_display.h"

namespace pack {

// Writes everything to out (which the caller commits): the stub with the settings of
// options, the message and script members (those with a path), then the members of the
// PATHs, or the archive of --archive.
void write_sfx(const PackOptions& options, const std::vector<uint8_t>& stub,
               const SpecialText& message, const SpecialText& script,
               const std::vector<PlannedMember>& members, OutputFile& out,
               ProgressDisplay& progress);

}  // namespace pack
