#include "pack/lzh_format.h"

namespace pack {

bool method_of(char digit, Method* method) {
  // -lh4- is read but not written, and a directory has no coding.
  if (digit == '4' || digit == method_directory) return false;
  const LzhMethod* m = find_lzh_method(digit);
  if (m == nullptr) return false;
  *method = {m->digit, m->dict_bits, m->position_count, m->position_count_bits};
  return true;
}

}  // namespace pack
