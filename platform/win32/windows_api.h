// The Windows headers of the stub, in the order they need: windows.h first.
#pragma once

// clang-format off
#include <windows.h>
#include <commdlg.h>
#include <dde.h>
#include <shellapi.h>
// clang-format on
