// The entry of both programs: the main dialog is the whole program.
#include "platform/win32.h"
#include "ui/control_ids.h"
#include "ui/main_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showState) {
  (void)previousInstance;
  (void)commandLine;
  (void)showState;
  return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), 0, MainDialogProc, 0);
}
