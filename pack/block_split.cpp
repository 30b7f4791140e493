#include "pack/block_split.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace pack {
namespace {

constexpr size_t unit_tokens = 1024;
constexpr size_t max_units = max_block_symbols / unit_tokens;
// Estimated table bits of a block: a fixed part and a little per symbol in use.
constexpr double table_fixed_bits = 60;
constexpr double table_literal_bits = 4;
constexpr double table_position_bits = 3;
constexpr int symbol_space = literal_alphabet + max_position_alphabet;

// f * log2(f) for the counts a block can reach.
struct CountLog {
  std::vector<float> value;
  CountLog() : value(max_block_symbols + 1) {
    value[0] = 0;
    for (size_t f = 1; f < value.size(); ++f) value[f] = static_cast<float>(f * std::log2(f));
  }
};

const CountLog& count_log() {
  static const CountLog table;
  return table;
}

struct UnitCounts {
  std::vector<uint16_t> symbols;  // literal/length symbols, then positions at 510 +
  std::vector<uint16_t> counts;
  uint32_t literals = 0, positions = 0;
};

}  // namespace

std::vector<size_t> split_blocks(const Token* tokens, size_t count) {
  std::vector<size_t> ends;
  if (count <= unit_tokens) {
    ends.push_back(count);
    return ends;
  }
  const std::vector<float>& g = count_log().value;
  const size_t units = (count + unit_tokens - 1) / unit_tokens;
  std::vector<UnitCounts> unit(units);
  std::vector<uint32_t> scratch(symbol_space, 0);
  for (size_t u = 0; u < units; ++u) {
    const size_t begin = u * unit_tokens, end = std::min(count, begin + unit_tokens);
    for (size_t i = begin; i < end; ++i) {
      ++scratch[tokens[i].symbol];
      if (tokens[i].symbol >= 256)
        ++scratch[literal_alphabet + position_symbol(tokens[i].distance)];
    }
    for (int s = 0; s < symbol_space; ++s) {
      if (scratch[s] == 0) continue;
      unit[u].symbols.push_back(static_cast<uint16_t>(s));
      unit[u].counts.push_back(static_cast<uint16_t>(scratch[s]));
      (s < literal_alphabet ? unit[u].literals : unit[u].positions) += scratch[s];
      scratch[s] = 0;
    }
  }

  // best[k]: least estimated bits for the first k units; from[k]: where its last block starts.
  std::vector<double> best(units + 1, 1e300);
  std::vector<size_t> from(units + 1, 0);
  std::vector<uint32_t> freq(symbol_space, 0);
  best[0] = 0;
  for (size_t k = 1; k <= units; ++k) {
    // Grow a block backwards from unit k - 1, keeping its frequencies and the sum of
    // f log f over them up to date.
    double sum_literal = 0, sum_position = 0;
    uint32_t literals = 0, positions = 0, used_literal = 0, used_position = 0;
    size_t j = k;
    while (j > 0 && k - j < max_units) {
      --j;
      const UnitCounts& c = unit[j];
      for (size_t n = 0; n < c.symbols.size(); ++n) {
        const uint16_t s = c.symbols[n];
        const uint32_t before = freq[s], after = before + c.counts[n];
        if (s < literal_alphabet) {
          sum_literal += g[after] - g[before];
          used_literal += before == 0;
        } else {
          sum_position += g[after] - g[before];
          used_position += before == 0;
        }
        freq[s] = after;
      }
      literals += c.literals;
      positions += c.positions;
      const double bits = (g[literals] - sum_literal) + (g[positions] - sum_position) +
                          table_fixed_bits + table_literal_bits * used_literal +
                          table_position_bits * used_position;
      if (best[j] + bits < best[k]) {
        best[k] = best[j] + bits;
        from[k] = j;
      }
    }
    for (size_t u = j; u < k; ++u) {
      for (uint16_t s : unit[u].symbols) freq[s] = 0;
    }
  }
  for (size_t k = units; k > 0; k = from[k]) ends.push_back(std::min(count, k * unit_tokens));
  std::reverse(ends.begin(), ends.end());
  return ends;
}

}  // namespace pack
