// One whole format of the selected disk, on a worker thread.
#pragma once

#include "platform/win32.h"

// Notification code of the job-finished command, WM_COMMAND on IDC_START.
#define JOBN_FINISHED 0xFF

// Thread routine; returns and stores 1 on success, 0 on failure.
DWORD WINAPI FormatThreadProc(LPVOID parameter);
