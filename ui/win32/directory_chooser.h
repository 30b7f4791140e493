// The directory chooser behind the main dialog's Browse button.
#pragma once

#include "platform/platform.h"

// Runs the open-file common dialog with the "GetDirDialog" template; nonzero
// when the user pressed OK, the chosen directory then stands in
// wa->target_path with its closing separator.
int choose_directory(Window owner);
