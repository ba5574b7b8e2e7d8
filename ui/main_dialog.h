// The main dialog: the whole user interface of both editions.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Presets the option controls for a layout combo box selection.
void ApplyLayoutPresets(int layout);
