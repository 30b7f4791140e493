#include "pack/windows_names.h"

#include <locale.h>
#include <wctype.h>

#include <vector>

#include "pack/code_page.h"

namespace pack {
namespace {

std::vector<std::string> components_of(const std::string& name) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < name.size()) {
    size_t slash = name.find('/', at);
    if (slash == std::string::npos) slash = name.size();
    parts.push_back(name.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

bool is_device_name(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0) return false;
  // Windows takes the superscripts 1, 2 and 3 (U+00B9, U+00B2, U+00B3) as digits here too.
  const std::string digit = base.substr(3);
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xc2\xb9" ||
         digit == "\xc2\xb2" || digit == "\xc2\xb3";
}

// The name in upper case, as Windows compares names.
std::string folded(const std::string& name) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::string out;
  for (size_t at = 0; at < name.size();) {
    uint32_t c = 0;
    const size_t n = utf8_sequence(name, at, &c);
    if (n == 0) {  // not UTF-8: compared as it stands
      out += name[at++];
      continue;
    }
    at += n;
    if (c >= 'a' && c <= 'z') {
      c -= 32;
    } else if (c >= 0x80 && utf8 != static_cast<locale_t>(0)) {
      c = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(c), utf8));
    }
    // Each code point as four bytes: a key to compare, not a text.
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(c >> shift);
  }
  return out;
}

}  // namespace

std::string windows_name_problem(const std::string& name) {
  for (const std::string& component : components_of(name)) {
    const std::string quoted = "\"" + shown(component) + "\"";
    for (size_t at = 0; at < component.size();) {
      uint32_t c = 0;
      const size_t n = utf8_sequence(component, at, &c);
      at += n == 0 ? 1 : n;
      if (n == 0) continue;
      if (c < 0x20 || c == 0x7F) {
        return quoted + " holds the control character " + character_named(c);
      }
      if (c < 0x80 && std::string(":*?\"<>|\\").find(static_cast<char>(c)) != std::string::npos) {
        return quoted + " holds \"" + static_cast<char>(c) +
               "\", which Windows does not allow in " +
               (c == ':'    ? "names (it names a drive or a stream)"
                : c == '\\' ? "names (it separates folders)"
                            : "names");
      }
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
      if (component == "." || component == "..") continue;
      return quoted + " ends in a " + (component.back() == '.' ? "dot" : "space") +
             ", which Windows drops from names";
    }
    if (is_device_name(component)) {
      return quoted + " is a device name on Windows, not a file";
    }
  }
  return "";
}

std::string escape_problem(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':')
    return "it starts with a drive (\"" + name.substr(0, 2) + "\")";
  if (!name.empty() && name[0] == '/') return "it is rooted (starts with a separator)";
  for (const std::string& component : components_of(name)) {
    if (component == "..") return "it climbs out with \"..\"";
  }
  return "";
}

std::string CaseClashes::add(const std::string& name) {
  std::string path;
  for (const std::string& component : components_of(name)) {
    path += path.empty() ? component : "/" + component;
    const auto found = seen_.emplace(folded(path), path);
    if (!found.second && found.first->second != path) return found.first->second;
  }
  return "";
}

}  // namespace pack
