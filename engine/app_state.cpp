#include "engine/app_state.h"

#include <string.h>

AppState g_app = {0, 0, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, 0, {{0}}, {}, -1, 0, 0, 0};

void ResetAppState(void) {
  memset(&g_app, 0, sizeof g_app);
  g_app.thread = INVALID_HANDLE_VALUE;
  g_app.device = INVALID_HANDLE_VALUE;
  g_app.jobDrive = -1;
}
