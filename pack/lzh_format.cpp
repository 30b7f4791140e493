#include "pack/lzh_format.h"

namespace pack {

bool method_of(char digit, Method* method) {
  switch (digit) {
    case '0':
      *method = {'0', 0, 0, 0};
      return true;
    case '5':
      *method = {'5', 13, 14, 4};
      return true;
    case '6':
      *method = {'6', 15, 17, 5};
      return true;
    case '7':
      *method = {'7', 16, 17, 5};
      return true;
    default:
      return false;
  }
}

}  // namespace pack
