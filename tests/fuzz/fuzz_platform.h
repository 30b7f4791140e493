// The seam under libFuzzer: the program's own file is a byte buffer, files
// written are counted and hashed and otherwise dropped, message boxes are
// silent, and the end of the process returns to the fuzz entry instead of
// ending it, so that "Bad table" or "Read ERROR" are outcomes, not crashes.
#pragma once

#include <cstddef>
#include <cstdint>

// The program's own file for the next run; clears what the last run did.
void fuzz_set_own_file(const uint8_t* data, size_t size);
// The furthest byte of the own file that any read asked for.
size_t fuzz_own_file_requested_end();

// What the run wrote to files.
struct FuzzWrites {
  uint64_t bytes;
  uint64_t hash;
  uint32_t calls;
};
FuzzWrites fuzz_writes();
// Text of the last message box of the run; empty when there was none.
const char* fuzz_last_message();

// Runs fn: -1 when it returned, else the exit status it ended the process with.
int fuzz_run(void (*fn)());
