// The walk of kobrix --list and --test: the scan pass's steps with the
// core's own routines (settings record, header reader, capture of the
// message and the script, script reader, integrity value), and for the test
// the extraction's decoding of every member into a sink that keeps nothing.
// Message boxes of the core are taken in, not shown; a failure inside the
// decoder, which would end the program, ends only its member.
#include "ui/terminal/sfx_listing.h"

#include <fcntl.h>
#include <setjmp.h>

#include "archive/archive.h"
#include "decode/decode.h"
#include "install/install.h"
#include "platform/posix/posix_config.h"
#include "platform/posix/posix_internal.h"
#include "startup/startup.h"
#include "ui/common/dialog_common.h"

namespace {

// The last report of the core, and where a failure inside the decoder goes.
char last_report[text_size];
jmp_buf* decoder_trap = nullptr;

int take_report(const char* text, uint32_t style) {
  (void)style;
  text_copy(last_report, text, sizeof last_report);
  // The decoder reports only what ends the program; its member ends here.
  if (decoder_trap != nullptr) longjmp(*decoder_trap, 1);
  return answer_ok;
}

// Decodes the current member with the extraction's routine into output;
// "" or the failure the decoder reported.
std::string decode_guarded(FileHandle output) {
  jmp_buf trap;
  wa->output_file = output;
  last_report[0] = 0;
  if (setjmp(trap) != 0) {
    decoder_trap = nullptr;
    wa->output_file = 0;
    wa->capture_mode = capture_none;
    return message_of_report(last_report);
  }
  decoder_trap = &trap;
  decode_current_member();
  decoder_trap = nullptr;
  wa->output_file = 0;
  return std::string();
}

// The switches as start-up settles them with no option given.
void settle_switches() {
  uint8_t flags = wa->settings.flags;
  ask_register = 0;
  no_overwrite_prompt = (flags & settings_no_overwrite_prompt) ? 1 : 0;
  auto_start = (flags & settings_auto_start) ? 1 : 0;
  skip_if_not_newer = (flags & settings_no_date_check) ? 0 : 1;
}

InspectedMember member_of_header(uint32_t offset) {
  InspectedMember m;
  const uint8_t* h = wa->header;
  m.name = wa->member_name;
  m.offset = offset;
  m.method = member_method();
  m.os_id = h[header_os_at];
  m.packed = get_u32(h + header_packed_at);
  m.size = get_u32(h + header_unpacked_at);
  m.attributes = wa->attributes;
  m.crc = get_u16(h + header_file_crc_at);
  m.written_time = wa->time_written;
  m.created_time = wa->time_created;
  m.accessed_time = wa->time_accessed;
  m.special = m.name == "!" || m.name == "$";
  return m;
}

void stop_walk(InspectedFile* f, const std::string& error, const std::string& name) {
  f->error = error;
  f->error_name = name;
}

// Stops the walk on the core's last report, which names the file unless it
// is "Not enough memory"; a seek that failed reported nothing.
void stop_on_report(InspectedFile* f) {
  if (last_report[0] == 0) return stop_walk(f, "Read ERROR", wa->module_path);
  stop_walk(f, message_of_report(last_report), last_report[0] == '"' ? wa->module_path : "");
}

// The message or the script captured as the scan pass captures it, and the
// script applied. 0 when the decoder failed: the program would end there.
bool capture_special(InspectedFile* f, InspectedMember* m) {
  bool message = m->name == "!";
  wa->capture_mode = message ? capture_message : capture_script;
  (message ? wa->text : wa->script)[0] = 0;
  std::string error = decode_guarded(invalid_file);
  wa->capture_mode = capture_none;
  if (!error.empty()) {
    m->error = error;
    stop_walk(f, error, m->name);
    return false;
  }
  if (message) {
    f->has_message = true;
    f->message = wa->text;
    f->message_size = m->size;
  } else {
    f->has_script = true;
    f->script = wa->script;
    apply_script_settings();
  }
  return true;
}

// Decodes a member into the sink and compares its CRC-16, as the extraction
// does; after a failure the walk goes on behind the member's data.
bool test_member(InspectedFile* f, InspectedMember* m, FileHandle sink, int32_t data_start) {
  m->tested = true;
  std::string error = decode_guarded(sink);
  if (error.empty() && wa->crc != m->crc) error = "CRC ERROR";
  m->error = error;
  if (error.empty()) return true;
  last_report[0] = 0;
  if (sys_seek_own_file(wa->archive_file, data_start, seek_begin) == -1 || !skip_member_data()) {
    stop_on_report(f);
    return false;
  }
  return true;
}

// Walks the members; a failure that stops the walk is left in f->error.
void walk_members(InspectedFile* f, bool test, FileHandle sink) {
  build_crc_table(crc_polynomial);
  header_crc_xor = 0;
  for (;;) {
    int32_t offset = sys_seek_own_file(wa->archive_file, 0, seek_current);
    last_report[0] = 0;
    HeaderResult r = read_member_header();
    if (r == header_end) break;
    if (r == header_failed) return stop_on_report(f);
    InspectedMember m = member_of_header(uint32_t(offset));
    header_crc_xor ^= m.crc;
    int32_t data_start = sys_seek_own_file(wa->archive_file, 0, seek_current);
    bool go_on = true;
    if (m.special) {
      go_on = capture_special(f, &m);
      // The program takes the text without checking it; the test checks it.
      if (go_on && test) {
        last_report[0] = 0;
        go_on = sys_seek_own_file(wa->archive_file, data_start, seek_begin) != -1;
        if (!go_on) stop_on_report(f);
        if (go_on) go_on = test_member(f, &m, sink, data_start);
      }
    } else if (test && m.method != method_directory) {
      // The scan first passes over the data: a member running past the end
      // stops the program before anything is written.
      if (!skip_member_data() ||
          sys_seek_own_file(wa->archive_file, data_start, seek_begin) == -1) {
        f->members.push_back(m);
        stop_on_report(f);
        f->members.back().error = f->error;
        return;
      }
      go_on = test_member(f, &m, sink, data_start);
    } else if (test) {
      m.tested = true;  // a directory: nothing behind its header
    } else if (!skip_member_data()) {
      f->members.push_back(m);
      return stop_on_report(f);
    }
    f->members.push_back(m);
    if (!go_on) return;
  }
  if (f->integrity_present) {
    f->integrity_checked = true;
    f->computed_check = header_crc_xor;
    if (header_crc_xor != f->stored_check) stop_walk(f, "Tampered DATA", wa->module_path);
  }
}

// The installer as the dialog would show it, and where each member lands.
void settle_view(InspectedFile* f) {
  InstallerView& v = f->view;
  SettingsBlock& s = wa->settings;
  v.caption = s.window_title;
  v.label = s.install_title[0] != 0 ? s.install_title : "Install &Directory:";
  v.directory = s.install_dir;
  v.command = s.command;
  v.auto_start = auto_start != 0;
  v.overwrite = no_overwrite_prompt != 0;
  v.no_date_check = skip_if_not_newer == 0;
  v.restore_attributes = s.restore_attributes != 0;
  v.ask_register = ask_register != 0;
  v.group_checked = wa->group_checked != 0;
  v.class_checked = wa->class_checked != 0;
  v.group_title = wa->group_title;
  v.class_title = wa->class_title;

  char path[path_size];
  text_copy(path, s.install_dir, sizeof path);
  expand_macros(path, "");
  bool users_path = false;
  if (path[0] == 0) {
    uint32_t n = sys_current_directory(path, sizeof path);
    if (n >= sizeof path) path[0] = 0;
    users_path = true;
  }
  v.directory_expanded = path;
  v.directory_refused = !take_directory(nullptr, path);
  if (v.directory_refused) return;
  posix_set_extract_dir(wa->dest_dir, users_path ? 1 : 0);
  v.directory_linux = posix_extract_dir();

  uint32_t max_length =
      wa->dest_dir[0] != 0 && wa->dest_dir[1] == ':'
          ? sys_max_component_length(std::string(wa->dest_dir, 2).append("\\").c_str())
          : sys_max_component_length(nullptr);
  for (InspectedMember& m : f->members) {
    if (m.special) continue;
    char name[path_size];
    text_copy(name, m.name.c_str(), sizeof name);
    build_target_path(wa->target_path, wa->dest_dir, name);
    unify_separators(wa->target_path, '/');
    char* folded = wa->target_path;
    if (folded[0] != 0 && folded[1] == ':') folded += 2;
    fold_path(folded, max_length == 255);
    m.target = posix_map_path(wa->target_path);
    char written[path_size];
    text_copy(written, m.name.c_str(), sizeof written);
    fold_path(written, max_length == 255);
    m.written = written;
  }
}

}  // namespace

std::string message_of_report(const std::string& text) {
  size_t end = text.rfind("\" ");
  if (text.empty() || text[0] != '"' || end == std::string::npos) return text;
  return text.substr(end + 2);
}

InspectedFile inspect_sfx(bool test) {
  InspectedFile f;
  f.tested = test;
  wa = static_cast<WorkArea*>(sys_alloc_zeroed(sizeof(WorkArea)));
  if (wa == nullptr) {
    stop_walk(&f, "Not enough memory", "");
    return f;
  }
  posix_set_message_hook(take_report);
  if (sys_module_path(wa->module_path, path_size) >= path_size) wa->module_path[0] = 0;
  read_settings();
  f.record = wa->settings;
  f.install_dir_before_script = wa->settings.install_dir;
  settle_switches();

  wa->archive_file = sys_open_own_file(wa->module_path);
  if (wa->archive_file == invalid_file) {
    stop_walk(&f, "Open ERROR", wa->module_path);
  } else if (!locate_archive()) {
    stop_on_report(&f);
  } else {
    if (wa->settings.flags & settings_integrity_value) {
      uint8_t check[integrity_value_size] = {0, 0};
      sys_read_own_file(wa->archive_file, check, integrity_value_size);
      f.integrity_present = true;
      f.stored_check = get_u16(check);
    }
    // The sink of the test: the system's null device, so that the bytes
    // pass the extraction's own write routine and its CRC-16 and go nowhere.
    FileHandle sink = invalid_file;
    if (test) {
      int fd = posix_open_descriptor("/dev/null", O_WRONLY, 0);
      if (fd < 0) {
        stop_walk(&f, "Open ERROR", "/dev/null");
      } else {
        sink = FileHandle(fd);
      }
    }
    if (!test || sink != invalid_file) walk_members(&f, test, sink);
    if (sink != invalid_file) sys_close_file(sink);
  }
  if (wa->archive_file != invalid_file) sys_close_own_file(wa->archive_file);
  wa->archive_file = invalid_file;
  if (wa->header != nullptr) {
    sys_free(wa->header);
    wa->header = nullptr;
  }
  settle_view(&f);
  posix_set_message_hook(nullptr);
  sys_free(wa);
  wa = nullptr;
  return f;
}
