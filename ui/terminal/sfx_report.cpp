// The listing and the test of a self-extracting file as text for a person
// (every text from the archive through the terminal filter) or as one JSON
// document for programs (UTF-8, numbers as numbers, times in UTC with "Z").
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/posix/terminal_filter.h"
#include "ui/terminal/sfx_listing.h"

namespace {

// ---- shared facts ----

std::string utf8(const std::string& text) {
  return posix_to_utf8(text.c_str());
}

std::string shown(const std::string& text) {
  return terminal_safe(utf8(text));
}

std::string method_text(char method) {
  return std::string("-lh") + method + "-";
}

std::string attribute_text(uint16_t a) {
  std::string out = "-----";
  if (a & 0x01) out[0] = 'R';
  if (a & 0x02) out[1] = 'H';
  if (a & 0x04) out[2] = 'S';
  if (a & 0x10) out[3] = 'D';
  if (a & 0x20) out[4] = 'A';
  return out;
}

// Member times are 32-bit seconds since 1970 UTC, read unsigned as the
// program gives them to the file.
std::string time_text(int32_t seconds, bool iso) {
  time_t t = time_t(uint32_t(seconds));
  struct tm parts;
  if (gmtime_r(&t, &parts) == nullptr) return "?";
  char out[32];
  strftime(out, sizeof out, iso ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts);
  return out;
}

// Packed size as a share of the original, in per cent.
double ratio(uint64_t packed, uint64_t size) {
  return size == 0 ? 0.0 : 100.0 * double(packed) / double(size);
}

std::string flag_list(const InstallerView& v, bool integrity) {
  std::string out;
  auto add = [&](bool on, const char* words) {
    if (!on) return;
    if (!out.empty()) out += ", ";
    out += words;
  };
  add(v.auto_start, "auto-start");
  add(v.overwrite, "overwrite without asking");
  add(v.no_date_check, "no date check");
  add(v.restore_attributes, "restore attributes");
  add(integrity, "integrity value present");
  add(v.ask_register, "asks before each file type");
  return out.empty() ? "none" : out;
}

bool sound(const InspectedFile& f) {
  if (!f.error.empty()) return false;
  for (const InspectedMember& m : f.members)
    if (!m.error.empty()) return false;
  return true;
}

// ---- text ----

void print_installer(const InspectedFile& f) {
  const InstallerView& v = f.view;
  std::printf("Installer\n");
  std::printf("  Caption:    %s\n", shown(v.caption).c_str());
  std::printf("  Label:      %s\n", shown(v.label).c_str());
  std::printf("  Directory:  %s\n",
              v.directory.empty() ? "(none: the current directory)" : shown(v.directory).c_str());
  if (v.directory_refused)
    std::printf("              refused as \"Invalid directory\": the program asks again\n");
  else
    std::printf("              lands in %s\n", terminal_safe(v.directory_linux).c_str());
  InstallerView record;
  record.auto_start = f.record.flags & settings_auto_start;
  record.overwrite = f.record.flags & settings_no_overwrite_prompt;
  record.no_date_check = f.record.flags & settings_no_date_check;
  record.restore_attributes = f.record.restore_attributes != 0;
  std::printf("  Record:     %s (flags 0x%02x)\n", flag_list(record, f.integrity_present).c_str(),
              unsigned(f.record.flags));
  std::printf("  Settings:   %s%s\n", flag_list(v, f.integrity_present).c_str(),
              f.has_script ? " (after the script)" : "");
  std::printf("  Check boxes: Start menu %s, file types %s\n",
              v.group_checked ? "ticked" : "not ticked (disabled)",
              v.class_checked ? "ticked" : "not ticked (disabled)");
  std::printf("  Command:    %s\n", v.command.empty() ? "(none)" : shown(v.command).c_str());
  if (f.has_message) {
    std::printf("\nMessage (a Yes/No question before anything is written; No ends the program)");
    if (f.message_size > f.message.size() && f.message.size() == 1023)
      std::printf(", its first 1,023 of %u bytes", unsigned(f.message_size));
    std::printf(":\n");
    std::string text = terminal_safe(utf8(f.message), true);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::printf("  | %s\n", text.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  if (f.has_script) {
    std::vector<ScriptLineMeaning> lines = explain_script(f);
    std::printf("\nScript (%zu lines):\n", lines.size());
    for (const ScriptLineMeaning& l : lines) {
      std::printf("  %s\n", shown(l.line).c_str());
      std::printf("      Windows: %s\n", terminal_safe(l.on_windows).c_str());
      std::printf("      Linux:   %s\n", terminal_safe(l.on_linux).c_str());
    }
  }
  std::printf("\n");
}

void print_members(const InspectedFile& f, bool test) {
  std::printf("%10s %10s %6s %-5s  %-19s  %-5s %-4s  %s%s\n", "Original", "Packed", "Ratio", "Meth",
              "Last write (UTC)", "Attr", "CRC", test ? "Test  " : "", "Name");
  uint64_t size = 0, packed = 0;
  size_t files = 0;
  for (const InspectedMember& m : f.members) {
    std::string name = shown(m.special ? m.name : m.written.empty() ? m.name : m.written);
    if (m.name == "!") name += "  (message)";
    if (m.name == "$") name += "  (script)";
    std::string status;
    if (test) status = !m.error.empty() ? "FAIL  " : m.tested ? "OK    " : "-     ";
    std::printf("%10u %10u %5.1f%% %-5s  %-19s  %-5s %04x  %s%s", unsigned(m.size),
                unsigned(m.packed), ratio(m.packed, m.size), method_text(m.method).c_str(),
                time_text(m.written_time, false).c_str(), attribute_text(m.attributes).c_str(),
                unsigned(m.crc), status.c_str(), name.c_str());
    if (test && !m.error.empty()) std::printf(": %s", m.error.c_str());
    std::printf("\n");
    size += m.size;
    packed += m.packed;
    ++files;
  }
  std::printf("%10llu %10llu %5.1f%% %zu member%s\n", (unsigned long long)size,
              (unsigned long long)packed, ratio(packed, size), files, files == 1 ? "" : "s");
}

void print_error(const InspectedFile& f) {
  if (f.error.empty()) return;
  if (f.error_name.empty())
    std::printf("ERROR: %s\n", f.error.c_str());
  else
    std::printf("ERROR: \"%s\" %s\n", shown(f.error_name).c_str(), f.error.c_str());
}

// ---- JSON ----

// Characters a JSON string carries as \uNNNN although it may hold them
// raw: C1 controls (U+009B is a CSI on some terminals), the marks that
// reorder text, and the line and paragraph separators. The JSON is meant
// for programs, but it is often read on a terminal first.
bool json_escaped(uint32_t code) {
  return (code >= 0x80 && code <= 0x9F) || (code >= 0x2028 && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

// A JSON string; a byte that is not part of valid UTF-8 (a Linux path may
// hold any) becomes U+FFFD.
std::string json_string(const std::string& utf8_text) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8_text.data());
  size_t left = utf8_text.size();
  while (left > 0) {
    unsigned char c = *p;
    uint32_t code = 0;
    size_t length = c < 0x80 ? 1 : posix_decode_utf8(p, left, &code);
    if (length == 0) {
      out += "\xef\xbf\xbd";
      length = 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && json_escaped(code))) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c < 0x80 ? uint32_t(c) : code);
      out += escape;
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
    }
    p += length;
    left -= length;
  }
  return out + "\"";
}

std::string js(const std::string& archive_text) {
  return json_string(utf8(archive_text));
}

const char* js_bool(bool b) {
  return b ? "true" : "false";
}

std::string js_ratio(uint64_t packed, uint64_t size) {
  char out[32];
  std::snprintf(out, sizeof out, "%.1f", ratio(packed, size));
  return out;
}

void print_json(const InspectedFile& f, const char* path, bool test) {
  const InstallerView& v = f.view;
  const SettingsBlock& r = f.record;
  std::printf("{\n  \"file\": %s,\n  \"mode\": \"%s\",\n", json_string(path).c_str(),
              test ? "test" : "list");
  std::printf(
      "  \"record\": {\"archive_offset\": %u, \"flags\": %u, \"restore_attributes\": %u, "
      "\"caption\": %s, \"label\": %s, \"directory\": %s, \"command\": %s},\n",
      unsigned(r.archive_offset), unsigned(r.flags), unsigned(r.restore_attributes),
      js(std::string(r.window_title, strnlen(r.window_title, sizeof r.window_title))).c_str(),
      js(std::string(r.install_title, strnlen(r.install_title, sizeof r.install_title))).c_str(),
      js(std::string(r.install_dir, strnlen(r.install_dir, sizeof r.install_dir))).c_str(),
      js(std::string(r.command, strnlen(r.command, sizeof r.command))).c_str());
  std::printf(
      "  \"installer\": {\"caption\": %s, \"label\": %s, \"directory\": %s, "
      "\"directory_expanded\": %s, \"directory_linux\": %s, \"directory_refused\": %s, "
      "\"command\": %s,\n    \"flags\": {\"auto_start\": %s, \"overwrite\": %s, "
      "\"no_date_check\": %s, \"restore_attributes\": %s, \"integrity_value\": %s, "
      "\"ask_register\": %s},\n    \"start_menu\": {\"ticked\": %s, \"title\": %s}, "
      "\"file_types\": {\"ticked\": %s, \"title\": %s}},\n",
      js(v.caption).c_str(), js(v.label).c_str(), js(v.directory).c_str(),
      js(v.directory_expanded).c_str(), json_string(v.directory_linux).c_str(),
      js_bool(v.directory_refused), js(v.command).c_str(), js_bool(v.auto_start),
      js_bool(v.overwrite), js_bool(v.no_date_check), js_bool(v.restore_attributes),
      js_bool(f.integrity_present), js_bool(v.ask_register), js_bool(v.group_checked),
      js(v.group_title).c_str(), js_bool(v.class_checked), js(v.class_title).c_str());
  if (f.has_message)
    std::printf("  \"message\": {\"text\": %s, \"size\": %u},\n", js(f.message).c_str(),
                unsigned(f.message_size));
  else
    std::printf("  \"message\": null,\n");
  if (f.has_script) {
    std::printf("  \"script\": {\"text\": %s, \"lines\": [", js(f.script).c_str());
    std::vector<ScriptLineMeaning> lines = explain_script(f);
    for (size_t i = 0; i < lines.size(); ++i) {
      const ScriptLineMeaning& l = lines[i];
      std::printf(
          "%s\n    {\"line\": %s, \"key\": %s, \"ignored\": %s, \"windows\": %s, "
          "\"linux\": %s}",
          i ? "," : "", js(l.line).c_str(), json_string(l.key).c_str(), js_bool(l.key.empty()),
          json_string(l.on_windows).c_str(), json_string(l.on_linux).c_str());
    }
    std::printf("]},\n");
  } else {
    std::printf("  \"script\": null,\n");
  }
  if (f.integrity_present) {
    std::printf("  \"integrity\": {\"stored\": %u, ", unsigned(f.stored_check));
    if (f.integrity_checked)
      std::printf("\"computed\": %u, \"ok\": %s},\n", unsigned(f.computed_check),
                  js_bool(f.computed_check == f.stored_check));
    else
      std::printf("\"computed\": null, \"ok\": null},\n");
  } else {
    std::printf("  \"integrity\": null,\n");
  }
  std::printf("  \"members\": [");
  uint64_t size = 0, packed = 0;
  for (size_t i = 0; i < f.members.size(); ++i) {
    const InspectedMember& m = f.members[i];
    char os[2] = {char(m.os_id), 0};
    std::printf(
        "%s\n    {\"name\": %s, \"written_as\": %s, \"path\": %s, \"special\": %s, "
        "\"method\": \"%s\", \"size\": %u, \"packed\": %u, \"ratio\": %s, \"time\": \"%s\", "
        "\"time_unix\": %u, \"created\": \"%s\", \"accessed\": \"%s\", \"attributes\": %u, "
        "\"attributes_text\": \"%s\", \"crc\": %u, \"os\": %s, \"offset\": %u",
        i ? "," : "", js(m.name).c_str(), m.special ? "null" : js(m.written).c_str(),
        m.target.empty() ? "null" : json_string(m.target).c_str(), js_bool(m.special),
        method_text(m.method).c_str(), unsigned(m.size), unsigned(m.packed),
        js_ratio(m.packed, m.size).c_str(), time_text(m.written_time, true).c_str(),
        unsigned(uint32_t(m.written_time)), time_text(m.created_time, true).c_str(),
        time_text(m.accessed_time, true).c_str(), unsigned(m.attributes),
        attribute_text(m.attributes).c_str(), unsigned(m.crc),
        json_string(std::string(os, m.os_id ? 1 : 0)).c_str(), unsigned(m.offset));
    if (test) {
      std::printf(", \"tested\": %s, \"ok\": %s, \"error\": %s", js_bool(m.tested),
                  js_bool(m.tested && m.error.empty()),
                  m.error.empty() ? "null" : json_string(m.error).c_str());
    }
    std::printf("}");
    size += m.size;
    packed += m.packed;
  }
  std::printf(
      "],\n  \"totals\": {\"members\": %zu, \"size\": %llu, \"packed\": %llu, "
      "\"ratio\": %s},\n",
      f.members.size(), (unsigned long long)size, (unsigned long long)packed,
      js_ratio(packed, size).c_str());
  if (f.error.empty())
    std::printf("  \"error\": null");
  else
    std::printf("  \"error\": {\"message\": %s, \"name\": %s}", json_string(f.error).c_str(),
                js(f.error_name).c_str());
  if (test) std::printf(",\n  \"sound\": %s", js_bool(sound(f)));
  std::printf("\n}\n");
}

}  // namespace

int print_inspection(const InspectedFile& f, const char* path, bool test, bool json) {
  int code = sound(f) ? 0 : 1;
  if (json) {
    print_json(f, path, test);
    return code;
  }
  std::printf("%s\n\n", terminal_safe(path).c_str());
  if (!test) print_installer(f);
  print_members(f, test);
  print_error(f);
  if (!test) return code;
  size_t failed = 0, tested = 0;
  const InspectedMember* first = nullptr;
  for (const InspectedMember& m : f.members) {
    tested += m.tested ? 1 : 0;
    if (m.error.empty()) continue;
    ++failed;
    if (first == nullptr && !m.special) first = &m;  // the program never checks "!" and "$"
  }
  std::printf("%zu member%s tested, ", tested, tested == 1 ? "" : "s");
  if (code == 0) {
    std::printf("all sound\n");
  } else {
    std::printf("%zu failed", failed);
    if (first != nullptr)
      std::printf("; the extraction would stop at %s", shown(first->name).c_str());
    if (!f.error.empty()) std::printf("; the file has an error that stops the program");
    std::printf("\n");
  }
  return code;
}

int inspect_and_report(const char* path, bool test, bool json) {
  struct stat st;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  const char* why = fd < 0                                        ? std::strerror(errno)
                    : fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ? "not a regular file"
                                                                  : nullptr;
  if (fd >= 0) close(fd);
  if (why != nullptr) {
    std::fprintf(stderr, "kobrix: %s: %s\n", terminal_safe(path).c_str(), why);
    return 1;
  }
  int code = print_inspection(inspect_sfx(test), path, test, json);
  std::fflush(nullptr);
  return code;
}
