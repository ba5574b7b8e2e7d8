// The process-wide state of the program.
#pragma once

#include "discovery/drive_table.h"
#include "engine/boot_sector.h"
#include "platform/win32.h"

struct AppState {
  HWND dialog;              // stored on every call of the dialog procedure
  HDEVNOTIFY notification;  // the volume-interface registration
  HANDLE thread;            // the running job's thread; INVALID_HANDLE_VALUE when none runs
  HANDLE device;            // the job's raw device; INVALID_HANDLE_VALUE when closed
  DWORD jobResult;          // 1 success, 0 failure; read only after the job-finished command
  BootSectorImage image;
  DriveTable drives;
  // The job's disk as planning took it, once, so that a refresh of the list
  // during the job cannot change it; -1 and 0 until a plan has taken one.
  int jobDrive;
  DWORD jobSectorCount;
  BYTE jobFatKind;  // FsKind that planning chose, for WriteFats; 0 before
  int refreshDue;           // a volume came or went during the job; the job-finished command refreshes
};

extern AppState g_app;

// Back to the state at program start.
void ResetAppState(void);
