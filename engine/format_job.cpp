#include "engine/format_job.h"

#include "engine/app_state.h"

DWORD WINAPI FormatThreadProc(LPVOID parameter) {
  (void)parameter;
  return 0;
}
