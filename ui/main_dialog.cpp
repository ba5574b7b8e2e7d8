#include "ui/main_dialog.h"

#include "engine/app_state.h"

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)message;
  (void)wParam;
  (void)lParam;
  g_app.dialog = window;
  return 0;
}

void ApplyLayoutPresets(int layout) { (void)layout; }
