// Member names Windows can hold, and names that would leave the extraction folder.
// Names are UTF-8 with "/" between components; a folder's ends in "/".
#pragma once

#include <map>
#include <string>

namespace pack {

// Why Windows cannot hold the name: a character it refuses in names (: * ? " < > |,
// the backslash or a control character), a component ending in a dot or a space, a device name
// (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, also with the digits 1 to 3 as
// superscripts, with any extension, any case); ""
// when it can.
std::string windows_name_problem(const std::string& name);

// Why the stub would write the name outside the extraction folder: a drive letter, a
// rooted name or a ".." component; "" when it stays inside.
std::string escape_problem(const std::string& name);

// Finds two names in one folder that differ only in case: one file on Windows.
class CaseClashes {
 public:
  // The name given before whose folder or file differs from this one's only in case,
  // or "".
  std::string add(const std::string& name);

 private:
  std::map<std::string, std::string> seen_;  // folded path -> path as given
};

}  // namespace pack
