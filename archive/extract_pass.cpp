// The two passes over the archive: the scan, which checks every header and
// reads the message and the script, and the extraction, which writes the
// members under the chosen directory.
#include "archive/archive.h"
#include "decode/decode.h"
#include "install/install.h"
#include "startup/startup.h"
#include "ui/main_dialog.h"

namespace {

enum MemberStep { member_next, member_stop };

uint32_t header_time() { return get_u32(wa->header + header_time_at); }
uint16_t header_file_crc() { return get_u16(wa->header + header_file_crc_at); }

MemberStep scan_member() {
  header_crc_xor ^= header_file_crc();
  if (text_equal(wa->member_name, "!")) {
    wa->capture_mode = capture_message;
    wa->text[0] = 0;
  } else if (text_equal(wa->member_name, "$")) {
    wa->capture_mode = capture_script;
    wa->script[0] = 0;
  } else {
    return skip_member_data() ? member_next : member_stop;
  }
  wa->output_file = invalid_file;
  decode_current_member();
  if (wa->aborted) {
    wa->capture_mode = capture_none;
    return member_stop;
  }
  if (wa->capture_mode == capture_message) {
    int answer = sys_message_box(nullptr, wa->text, wa->settings.window_title,
                                 box_task_modal | box_icon_question | box_yes_no);
    if (answer == answer_no) wa->aborted = 1;
  } else {
    apply_script_settings();
  }
  wa->capture_mode = capture_none;
  return member_next;
}

// Asks before an existing file is replaced; member_next with *write false
// when the member is to be skipped.
MemberStep decide_overwrite(bool* write) {
  *write = true;
  uint32_t attributes = sys_get_file_attributes(wa->target_path);
  if (attributes == attr_invalid) return member_next;
  uint32_t existing = existing_file_time(wa->target_path);
  format_text(wa->text, text_size, "\"%s\" %s", wa->target_path, "Overwrite?");
  int answer;
  if (skip_if_not_newer && existing >= header_time()) {
    answer = answer_no;
  } else if (no_overwrite_prompt) {
    answer = answer_yes;
  } else {
    answer = sys_message_box(wa->dialog, wa->text, wa->settings.window_title,
                             box_task_modal | box_icon_question | box_yes_no_cancel);
  }
  if (answer == answer_cancel) {
    wa->aborted = 1;
    return member_stop;
  }
  if (answer == answer_no) {
    *write = false;
    return skip_member_data() ? member_next : member_stop;
  }
  if (wa->settings.restore_attributes != 0 && !(attributes & attr_directory)) {
    sys_set_file_attributes(wa->target_path, attr_normal);
  }
  return member_next;
}

// Gives the file its three times; a time that cannot be converted is left alone.
void set_member_times() {
  if (is_win32s) {
    apply_tz_offset(&wa->time_created);
    apply_tz_offset(&wa->time_written);
    apply_tz_offset(&wa->time_accessed);
  }
  FileTime created, accessed, written;
  bool c = seconds_to_filetime(uint32_t(wa->time_created), &created);
  bool a = seconds_to_filetime(uint32_t(wa->time_accessed), &accessed);
  bool w = seconds_to_filetime(uint32_t(wa->time_written), &written);
  sys_set_file_time(wa->output_file, c ? &created : nullptr, a ? &accessed : nullptr,
                    w ? &written : nullptr);
}

MemberStep extract_member(uint32_t max_component_length) {
  if (text_equal(wa->member_name, "!") || text_equal(wa->member_name, "$")) {
    return skip_member_data() ? member_next : member_stop;
  }
  build_target_path(wa->target_path, wa->dest_dir, wa->member_name);
  unify_separators(wa->target_path, '/');
  char* folded = wa->target_path;
  if (folded[0] != 0 && folded[1] == ':') folded += 2;
  fold_path(folded, max_component_length == 255);

  display_name(wa->text, wa->target_path, 32);
  sys_set_item_text(wa->dialog, control_member, wa->text);
  sys_set_item_text(wa->dialog, control_progress, "Extract... 0%");
  create_parent_directories(wa->target_path);

  if (is_win32s) {
    int32_t shifted = int32_t(header_time());
    apply_tz_offset(&shifted);
    uint8_t* t = wa->header + header_time_at;
    for (int i = 0; i < 4; ++i) t[i] = uint8_t(uint32_t(shifted) >> (8 * i));
  }

  char method = member_method();
  if (method == method_directory) return member_next;  // its directory exists now

  bool write;
  if (decide_overwrite(&write) == member_stop) return member_stop;
  if (!write) return member_next;

  wa->output_file = sys_create_file(wa->target_path);
  if (wa->output_file == invalid_file) {
    report_open_error(wa->target_path);
    return member_stop;
  }
  decode_current_member();
  set_member_times();

  FileHandle file = wa->output_file;
  wa->output_file = 0;
  if (!sys_close_file(file)) {
    sys_delete_file(wa->target_path);
    report_aborting("Close ERROR", wa->target_path);
    return member_stop;
  }
  if (wa->crc != header_file_crc()) {
    sys_delete_file(wa->target_path);
    report_aborting("CRC ERROR", wa->target_path);
    return member_stop;
  }
  if (wa->settings.restore_attributes != 0) {
    sys_set_file_attributes(wa->target_path, wa->attributes);
  }
  return member_next;
}

}  // namespace

void decode_current_member() {
  wa->crc = 0;
  wa->in_pos = 0xFFFFFFFFu;
  char method = member_method();
  if (method == method_stored) {
    copy_stored_member(int32_t(get_u32(wa->header + header_unpacked_at)));
  } else if (method >= '4' && method <= '7') {
    decode_member();
  }
}

int run_pass(Window owner, PassMode mode) {
  wa->dialog = owner;
  wa->aborted = 0;

  wa->archive_file = sys_open_own_file(wa->module_path);
  if (wa->archive_file == invalid_file) return report_open_error(wa->module_path);
  if (!locate_archive()) {
    sys_close_own_file(wa->archive_file);
    wa->archive_file = invalid_file;
    return 0;
  }

  uint32_t max_component_length;
  if (wa->dest_dir[0] != 0 && wa->dest_dir[1] == ':') {
    char root[4] = {wa->dest_dir[0], ':', '\\', 0};
    max_component_length = sys_max_component_length(root);
  } else {
    max_component_length = sys_max_component_length(nullptr);
  }

  if (wa->settings.flags & settings_integrity_value) {
    uint8_t check[integrity_value_size] = {0, 0};
    sys_read_own_file(wa->archive_file, check, integrity_value_size);
    wa->stored_check = get_u16(check);
  }
  build_crc_table(crc_polynomial);
  header_crc_xor = 0;

  while (read_member_header() == header_ready) {
    MemberStep step = mode == pass_scan ? scan_member() : extract_member(max_component_length);
    if (step == member_stop) break;
  }

  sys_close_own_file(wa->archive_file);
  wa->archive_file = invalid_file;

  if (mode == pass_scan) {
    if (wa->aborted == 0 && (wa->settings.flags & settings_integrity_value) &&
        header_crc_xor != wa->stored_check) {
      report_aborting("Tampered DATA", wa->module_path);
    }
  } else {
    if (wa->aborted == 0 || sys_actions_after_stop()) run_script_actions(wa->dialog);
    run_command(wa->dialog);
  }

  if (wa->header != nullptr) {
    sys_free(wa->header);
    wa->header = nullptr;
  }
  return wa->aborted == 0;
}
