// Chooses where blocks end, so that each block's codes fit its part of the input.
#pragma once

#include <cstddef>
#include <vector>

#include "pack/block_writer.h"
#include "pack/lzh_format.h"

namespace pack {

// Splits tokens[0 .. count - 1] into blocks of at most max_block_symbols tokens at the
// least estimated size; returns the end index of every block, the last one being count.
std::vector<size_t> split_blocks(const Token* tokens, size_t count);

}  // namespace pack
