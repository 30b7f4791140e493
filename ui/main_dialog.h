// The main dialog, as start-up sees it. The Windows build shows the
// "SfxDialog" template; the native runner has a terminal front end.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Control ids of the main dialog.
enum : int {
  control_ok = 1,
  control_cancel = 2,
  control_directory = 100,
  control_member = 101,
  control_progress = 102,
  control_label = 103,
  control_browse = 104,
  control_group = 105,
  control_class = 106,
};

// Shows the main dialog modally and returns its result: 1 after the
// extraction pass, 0 for Cancel before it, -1 when it cannot be shown.
int run_main_dialog();
