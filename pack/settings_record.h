// The 603-byte settings record that the stub reads at file offset 512.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/pack_options.h"

namespace pack {

constexpr uint32_t settings_offset = 512;
constexpr uint32_t settings_size = 603;

// The record for the options, with the archive starting at archive_offset.
std::vector<uint8_t> settings_record(const PackOptions& options, uint32_t archive_offset);

}  // namespace pack
