// The main dialog "SfxDialog": the extraction directory, Browse, the two
// check boxes, and the extraction pass run inside its OK command.
#include "ui/main_dialog.h"

#include "archive/archive.h"
#include "install/install.h"
#include "platform/win32/windows_api.h"
#include "startup/startup.h"
#include "ui/common/dialog_common.h"
#include "ui/win32/directory_chooser.h"
#include "ui/win32/resource_ids.h"

constexpr UINT_PTR auto_start_timer = 1;
constexpr UINT auto_start_delay = 700;

static void enable_control(HWND window, int id, BOOL enable) {
  EnableWindow(GetDlgItem(window, id), enable);
}

// Messages to controls rather than the calls that send them: every imported
// function costs bytes in every archive.
static LRESULT send_to_control(HWND window, int id, UINT message, WPARAM wparam) {
  return SendMessageA(GetDlgItem(window, id), message, wparam, 0);
}

static void tick(HWND window, int id, int checked) {
  send_to_control(window, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

static void initialise(HWND window) {
  SettingsBlock& settings = wa->settings;
  dde_state = 0;
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(settings.window_title));
  if (settings.install_title[0] != 0)
    SetDlgItemTextA(window, control_label, settings.install_title);
  SetDlgItemTextA(window, control_directory, settings.install_dir);
  if (wa->group_title[0] != 0) SetDlgItemTextA(window, control_group, wa->group_title);
  if (wa->class_title[0] != 0) SetDlgItemTextA(window, control_class, wa->class_title);
  send_to_control(window, control_directory, EM_LIMITTEXT, 255);

  tick(window, control_group, wa->group_checked);
  tick(window, control_class, wa->class_checked);
  enable_control(window, control_group, wa->group_checked != 0);
  enable_control(window, control_class, wa->class_checked != 0);

  RECT frame;
  GetWindowRect(window, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  MoveWindow(window, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, FALSE);

  wa->extracting = 0;
  wa->cancel_requested = 0;
  dialog_icon = LoadIconA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(IDI_ICON1));
  if (auto_start) SetTimer(window, auto_start_timer, auto_start_delay, nullptr);
}

// OK, pressed or posted by the timer. Returns the dialog procedure's result.
static INT_PTR start_extraction(HWND window) {
  // The timer's OK may still be queued when the user pressed OK first: the
  // pass pumps messages, and a second OK must not start a pass inside it.
  KillTimer(window, auto_start_timer);
  if (wa->extracting) return 0;

  char field[dir_size];
  if (GetDlgItemTextA(window, control_directory, field, sizeof(field)) == 0) field[0] = 0;
  if (!take_directory(window, field)) return 0;

  static const int locked[] = {control_ok, control_browse, control_directory, control_group,
                               control_class};
  for (int id : locked) enable_control(window, id, FALSE);
  HWND cancel = GetDlgItem(window, control_cancel);
  SetFocus(cancel);
  SendMessageA(cancel, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);

  wa->extracting = 1;
  run_pass(window, pass_extract);
  EndDialog(window, 1);
  return 1;
}

static void browse(HWND window) {
  if (!choose_directory(window)) return;
  cut_trailing_separator(wa->target_path);
  if (find_char_in_set(wa->target_path, " ") != nullptr) {
    format_text(wa->text, text_size, "\"%s\"", wa->target_path);
  } else {
    text_copy(wa->text, wa->target_path, text_size);
  }
  SetDlgItemTextA(window, control_directory, wa->text);
}

static INT_PTR command(HWND window, int id) {
  switch (id) {
    case control_ok:
      return start_extraction(window);
    case control_cancel:
      if (wa->extracting == 1) {
        wa->cancel_requested = 1;
      } else {
        EndDialog(window, 0);
      }
      return 1;
    case control_browse:
      browse(window);
      return 0;
    case control_group:
    case control_class:
      tick(window, id, toggle_check_box(id));
      return 0;
    default:
      return 0;
  }
}

// Draws the icon of the minimised dialog.
static void paint_icon(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  int mode = GetMapMode(dc);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SetMapMode(dc, MM_TEXT);
  DrawIcon(dc, 0, 0, static_cast<HICON>(dialog_icon));
  SetMapMode(dc, mode);
  EndPaint(window, &paint);
}

static INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      initialise(window);
      return 1;
    case WM_TIMER:
      KillTimer(window, auto_start_timer);
      PostMessageA(window, WM_COMMAND, control_ok, 0);
      return 0;
    case WM_COMMAND:
      return command(window, LOWORD(wparam));
    case WM_PAINT:
      if (IsIconic(window)) paint_icon(window);
      return 0;
    case WM_ERASEBKGND:
      return IsIconic(window) ? 1 : 0;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(dialog_icon);
    case WM_CLOSE:
      DestroyIcon(static_cast<HICON>(dialog_icon));
      return 0;
    case WM_DDE_ACK:
      on_dde_ack(window, reinterpret_cast<Window>(wparam));
      return 0;
    default:
      return 0;
  }
}

int run_main_dialog() {
  return static_cast<int>(
      DialogBoxParamA(static_cast<HINSTANCE>(instance), "SfxDialog", nullptr, main_dialog_proc, 0));
}
