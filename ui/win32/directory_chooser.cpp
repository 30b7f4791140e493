// The directory chooser: the open-file common dialog in its older form with
// the "GetDirDialog" template, which shows only the directory and drive
// lists. OK returns a dummy file name in the directory shown; the directory
// part is the result.
#include "ui/win32/directory_chooser.h"

#include <cstddef>

#include "platform/win32/windows_api.h"
#include "startup/startup.h"

static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) ==
                  (sizeof(void*) == 4 ? 76 : 136),
              "the request has its basic size");

int choose_directory(Window owner) {
  OPENFILENAMEA request;
  bytes_fill(&request, 0, sizeof(request));
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = static_cast<HWND>(owner);
  request.hInstance = static_cast<HINSTANCE>(instance);
  request.lpstrFile = wa->text;
  request.nMaxFile = path_size;
  request.lpstrTitle = "Extracting directory";
  request.Flags = OFN_HIDEREADONLY | OFN_ENABLETEMPLATE;
  request.lpTemplateName = "GetDirDialog";
  text_copy(wa->text, "work.txt", text_size);

  BOOL chosen = GetOpenFileNameA(&request);
  if (chosen) {
    text_copy(wa->target_path, wa->text, target_size);
    if (request.nFileOffset < target_size) wa->target_path[request.nFileOffset] = 0;
  }
  return chosen;
}
