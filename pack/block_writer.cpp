#include "pack/block_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pack/huffman_code.h"

namespace pack {
namespace {

// A code over a small or large alphabet, or the single-symbol form (no bits per use).
struct Code {
  int count = 0;
  int single = -1;  // the only symbol, sent as a count of 0 and the symbol
  uint8_t lengths[literal_alphabet] = {0};
  uint16_t codes[literal_alphabet] = {0};
};

void build_code(const uint32_t* freq, int count, Code* code, int max_bits = max_code_bits) {
  code->count = count;
  int used = 0, last = 0;
  for (int i = 0; i < count; ++i) {
    if (freq[i] != 0) ++used, last = i;
  }
  code->single = used <= 1 ? last : -1;
  if (code->single >= 0) {
    std::fill(code->lengths, code->lengths + literal_alphabet, 0);
    return;
  }
  limited_code_lengths(freq, count, max_bits, code->lengths);
  canonical_codes(code->lengths, count, code->codes);
}

int trimmed_count(const uint8_t* lengths, int count) {
  while (count > 0 && lengths[count - 1] == 0) --count;
  return count;
}

// Sends a length list as 3-bit values with the unary escape for 7 and more, optionally
// with the 2-bit zero run after the third length; returns its bits. Writes only when
// out is given.
uint64_t small_list(const Code& code, int count_bits, bool zero_run, BitWriter* out) {
  if (code.single >= 0) {
    if (out) out->put(0, count_bits), out->put(code.single, count_bits);
    return 2 * count_bits;
  }
  const int n = trimmed_count(code.lengths, code.count);
  if (out) out->put(n, count_bits);
  uint64_t bits = count_bits;
  int i = 0;
  while (i < n) {
    const int len = code.lengths[i++];
    if (len <= 6) {
      if (out) out->put(len, 3);
      bits += 3;
    } else {
      // 111, then len - 7 ones, then a zero
      if (out) out->put((1u << (len - 3)) - 2, len - 3);
      bits += len - 3;
    }
    if (zero_run && i == 3) {
      int j = 3;
      while (j < 6 && j < n && code.lengths[j] == 0) ++j;
      if (out) out->put(j - 3, 2);
      bits += 2;
      i = j;
    }
  }
  return bits;
}

// The literal/length lengths as a sequence of code-length symbols: 0 one zero,
// 1 + 4 bits 3..18 zeros, 2 + 9 bits 20..531 zeros, 3..18 a length of 1..16.
struct LengthList {
  std::vector<uint8_t> symbols;
  std::vector<uint16_t> extras;
  uint32_t freq[length_code_alphabet] = {0};
};

// Cheapest symbols for every zero run, given what each code-length symbol costs.
void encode_lengths(const uint8_t* lengths, int n, const uint32_t* cost, LengthList* list) {
  list->symbols.clear();
  list->extras.clear();
  std::memset(list->freq, 0, sizeof list->freq);
  auto emit = [&](int symbol, uint16_t extra) {
    list->symbols.push_back(static_cast<uint8_t>(symbol));
    list->extras.push_back(extra);
    ++list->freq[symbol];
  };
  // best[r]: least cost of r zeros; step[r]: zeros covered by the last symbol of it.
  int longest_run = 0;
  for (int i = 0, run = 0; i < n; ++i) {
    run = lengths[i] == 0 ? run + 1 : 0;
    longest_run = std::max(longest_run, run);
  }
  uint32_t best[literal_alphabet + 1];
  uint16_t step[literal_alphabet + 1];
  best[0] = 0;
  for (int r = 1; r <= longest_run; ++r) {
    best[r] = best[r - 1] + cost[0], step[r] = 1;
    for (int k = 3; k <= 18 && k <= r; ++k) {
      const uint32_t candidate = best[r - k] + cost[1] + 4;
      if (candidate < best[r]) best[r] = candidate, step[r] = static_cast<uint16_t>(k);
    }
    // one long-run symbol covers the whole run (runs never exceed 509 zeros)
    if (r >= 20 && cost[2] + 9 < best[r]) best[r] = cost[2] + 9, step[r] = static_cast<uint16_t>(r);
  }
  uint16_t pieces[literal_alphabet];
  int i = 0;
  while (i < n) {
    if (lengths[i] != 0) {
      emit(lengths[i] + 2, 0);
      ++i;
      continue;
    }
    int run = 0;
    while (i + run < n && lengths[i + run] == 0) ++run;
    int count = 0;
    for (int r = run; r > 0; r -= step[r]) pieces[count++] = step[r];
    while (count > 0) {
      const int k = pieces[--count];
      if (k == 1) {
        emit(0, 0);
      } else if (k <= 18) {
        emit(1, static_cast<uint16_t>(k - 3));
      } else {
        emit(2, static_cast<uint16_t>(k - 20));
      }
    }
    i += run;
  }
}

uint64_t list_bits(const LengthList& list, const Code& length_code) {
  uint64_t bits = small_list(length_code, 5, true, nullptr);
  if (length_code.single >= 0) {
    for (uint8_t s : list.symbols) bits += s == 1 ? 4 : s == 2 ? 9 : 0;
    return bits;
  }
  for (int s = 0; s < length_code_alphabet; ++s) {
    bits += uint64_t(list.freq[s]) * length_code.lengths[s];
  }
  bits += uint64_t(list.freq[1]) * 4 + uint64_t(list.freq[2]) * 9;
  return bits;
}

// Chooses the zero runs and the code-length code together: each round prices the
// symbols by the code of the round before.
uint64_t plan_lengths(const Code& literal, LengthList* list, Code* length_code) {
  const int n = trimmed_count(literal.lengths, literal_alphabet);
  uint32_t cost[length_code_alphabet];
  std::fill(cost, cost + length_code_alphabet, 4);
  LengthList trial;
  Code trial_code;
  uint64_t best = UINT64_MAX;
  for (int round = 0; round < 3; ++round) {
    encode_lengths(literal.lengths, n, cost, &trial);
    build_code(trial.freq, length_code_alphabet, &trial_code);
    const uint64_t bits = list_bits(trial, trial_code);
    if (bits < best) {
      best = bits;
      *list = trial;
      *length_code = trial_code;
    } else {
      break;
    }
    for (int s = 0; s < length_code_alphabet; ++s) {
      cost[s] = trial_code.single >= 0  ? (s == trial_code.single ? 0 : 8)
                : trial_code.lengths[s] ? trial_code.lengths[s]
                                        : 8;
    }
  }
  return best;
}

uint64_t data_bits(const uint32_t* freq, const Code& code) {
  uint64_t bits = 0;
  for (int s = 0; s < code.count; ++s) bits += uint64_t(freq[s]) * code.lengths[s];
  return bits;
}

// The literal/length code with the fewest bits for table and data together: a shorter
// longest code can make the table cheaper than the data grows.
void choose_literal_code(const uint32_t* freq, Code* literal, LengthList* list, Code* length_code) {
  static thread_local Code trial, trial_length_code;
  static thread_local LengthList trial_list;
  build_code(freq, literal_alphabet, literal);
  if (literal->single >= 0) return;
  int used = 0;
  for (int s = 0; s < literal_alphabet; ++s) used += freq[s] != 0;
  int shortest = 1;
  while ((1 << shortest) < used) ++shortest;
  uint64_t best = plan_lengths(*literal, list, length_code) + data_bits(freq, *literal);
  int longest = 0;
  for (int s = 0; s < literal_alphabet; ++s) longest = std::max<int>(longest, literal->lengths[s]);
  for (int max_bits : {13, 11, 10, 9}) {
    if (max_bits < shortest) break;
    if (max_bits >= longest) continue;
    build_code(freq, literal_alphabet, &trial, max_bits);
    const uint64_t bits =
        plan_lengths(trial, &trial_list, &trial_length_code) + data_bits(freq, trial);
    if (bits >= best) break;  // once a shorter limit costs more, the next ones seldom help
    best = bits;
    *literal = trial;
    *list = trial_list;
    *length_code = trial_length_code;
  }
}

// The position code with the fewest bits for its lengths and the data together.
void choose_position_code(const uint32_t* freq, const Method& method, Code* position) {
  static thread_local Code trial;
  build_code(freq, method.position_count, position);
  if (position->single >= 0) return;
  uint64_t best = small_list(*position, method.position_count_bits, false, nullptr) +
                  data_bits(freq, *position);
  int longest = 0;
  for (int s = 0; s < method.position_count; ++s)
    longest = std::max<int>(longest, position->lengths[s]);
  for (int max_bits : {7, 6, 5}) {
    if (max_bits >= longest) continue;
    build_code(freq, method.position_count, &trial, max_bits);
    const uint64_t bits =
        small_list(trial, method.position_count_bits, false, nullptr) + data_bits(freq, trial);
    if (bits < best) best = bits, *position = trial;
  }
}

}  // namespace

void count_symbols(const Token* tokens, size_t count, uint32_t* literal_freq,
                   uint32_t* position_freq) {
  std::memset(literal_freq, 0, sizeof(uint32_t) * literal_alphabet);
  std::memset(position_freq, 0, sizeof(uint32_t) * max_position_alphabet);
  for (size_t i = 0; i < count; ++i) {
    ++literal_freq[tokens[i].symbol];
    if (tokens[i].symbol >= 256) ++position_freq[position_symbol(tokens[i].distance)];
  }
}

void write_block(const Token* tokens, size_t count, const Method& method, BitWriter& out) {
  static thread_local Code literal, position, length_code;
  static thread_local LengthList list;
  uint32_t literal_freq[literal_alphabet], position_freq[max_position_alphabet];
  count_symbols(tokens, count, literal_freq, position_freq);
  choose_literal_code(literal_freq, &literal, &list, &length_code);
  choose_position_code(position_freq, method, &position);

  out.put(static_cast<uint32_t>(count), 16);
  if (literal.single >= 0) {
    out.put(0, 5);
    out.put(0, 5);
    out.put(0, 9);
    out.put(literal.single, 9);
  } else {
    small_list(length_code, 5, true, &out);
    out.put(trimmed_count(literal.lengths, literal_alphabet), 9);
    if (length_code.single >= 0) {
      for (size_t i = 0; i < list.symbols.size(); ++i) {
        if (list.symbols[i] == 1) out.put(list.extras[i], 4);
        if (list.symbols[i] == 2) out.put(list.extras[i], 9);
      }
    } else {
      for (size_t i = 0; i < list.symbols.size(); ++i) {
        const int s = list.symbols[i];
        out.put(length_code.codes[s], length_code.lengths[s]);
        if (s == 1) out.put(list.extras[i], 4);
        if (s == 2) out.put(list.extras[i], 9);
      }
    }
  }
  small_list(position, method.position_count_bits, false, &out);

  const bool literal_bits = literal.single < 0;
  const bool position_bits = position.single < 0;
  for (size_t i = 0; i < count; ++i) {
    const Token& t = tokens[i];
    if (literal_bits) out.put(literal.codes[t.symbol], literal.lengths[t.symbol]);
    if (t.symbol >= 256) {
      const int j = position_symbol(t.distance);
      if (position_bits) out.put(position.codes[j], position.lengths[j]);
      if (j >= 2) out.put(t.distance & ((1u << (j - 1)) - 1), j - 1);
    }
  }
}

}  // namespace pack
