// Checks an existing LZH archive header by header, as the stub will read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/code_page.h"

namespace pack {

struct ArchiveSummary {
  uint32_t members = 0;
  uint16_t crc_xor = 0;  // XOR of the file-CRC fields: the integrity value
  // Names Windows cannot hold, or that do not read in the code page (they stay as
  // they are): "member NAME: why".
  std::vector<std::string> warnings;
  // Zero bytes to append so that the end reads as a header size of 0 in the two
  // bytes the stub reads, whatever follows the archive (a signature): 2 for an
  // archive that stops behind its last member, 1 for one closed by a single zero.
  unsigned missing_end = 0;
};

// Walks every header of the archive in the file at path. Throws PackError naming the
// file, the header's offset and the reason when a header is one the stub refuses or
// cannot hold, when a member's name would take it out of the extraction folder (a
// drive, a rooted name, ".."), or when member data runs past the end of the file.
ArchiveSummary check_archive(const std::string& path, const CodePage& code_page);

}  // namespace pack
