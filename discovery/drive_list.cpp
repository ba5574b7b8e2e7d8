#include "discovery/drive_list.h"

#include <stdio.h>
#include <string.h>

#include "discovery/drive_enumeration.h"
#include "engine/app_state.h"
#include "ui/control_ids.h"

// x87 builds keep values in wider registers; a store through volatile rounds
// them to the width the line formats are defined in.
static float Single(double value) {
  volatile float rounded = (float)value;
  return rounded;
}

static double Double(double value) {
  volatile double rounded = value;
  return rounded;
}

void FormatDriveLine(const DriveRecord* record, char* line, size_t size) {
  if (size == 0) return;
  DWORD sectors = record->sectorCount;
  DWORD bytesPerSector = record->bytesPerSector;
  unsigned device = (unsigned)record->deviceNumber;
  // A record from anywhere may lack its terminator; the copy has one.
  char volumes[VOLUME_TEXT_SIZE];
  memcpy(volumes, record->volumeText, sizeof volumes - 1);
  volumes[sizeof volumes - 1] = '\0';
  float s = Single((double)sectors);

  if (sectors == 0 || bytesPerSector == 0) {
    snprintf(line, size, "可移动盘 %s %f B %s", volumes, (double)s, "");
    return;
  }
  double k = Double(1024.0 / (double)bytesPerSector);
  if ((double)s < k) {
    // Below 1 KiB the product is below 1024.
    snprintf(line, size, "可移动盘%u: %s %uB", device, volumes,
             (unsigned)(sectors * bytesPerSector));
    return;
  }
  float m = Single(k * 1024.0);
  if (s < m) {
    snprintf(line, size, "可移动盘%u: %s %.1fKB", device, volumes, Double((double)s / k));
    return;
  }
  double g = Double(k * 1048576.0);
  if ((double)s < g)
    snprintf(line, size, "可移动盘%u: %s %.1fMB", device, volumes, (double)Single(s / m));
  else
    snprintf(line, size, "可移动盘%u: %s %.1fGB", device, volumes, Double((double)s / g));
}

// The UI thread is the only caller, so plain flags serve.
static int g_refreshRunning;
static int g_refreshPending;

static void RefreshOnce(void) {
  char line[DRIVE_LINE_SIZE];
  memset(line, 0, sizeof line);
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_RESETCONTENT, 0, 0);
  EnumerateRemovableDrives(&g_app.drives);
  for (int i = 0; i < DRIVE_TABLE_SIZE && g_app.drives.records[i].physicalName[0] != '\0'; i++) {
    FormatDriveLine(&g_app.drives.records[i], line, sizeof line);
    SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM)line);
  }
  SetWindowTextA(GetDlgItem(g_app.dialog, IDC_STATUS), "请选择盘.");
}

void RefreshDriveList(void) {
  if (g_refreshRunning) {
    g_refreshPending = 1;
    return;
  }
  g_refreshRunning = 1;
  do {
    g_refreshPending = 0;
    RefreshOnce();
  } while (g_refreshPending);
  g_refreshRunning = 0;
}
