// The 603-byte settings record that the stub reads at file offset 512.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/code_page.h"
#include "pack/pack_options.h"

namespace pack {

// The texts of the record (title, install title, directory, command) in the code page,
// each checked against its field's width. Throws PackError (UsageError for a width)
// naming the option.
void encode_settings_texts(const CodePage& code_page, PackOptions* options);

// The record for the options, with the archive starting at archive_offset.
std::vector<uint8_t> settings_record(const PackOptions& options, uint32_t archive_offset);

}  // namespace pack
