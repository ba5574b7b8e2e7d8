#include "discovery/drive_list.h"

void RefreshDriveList(void) {}

void FormatDriveLine(const DriveRecord* record, char* line, size_t size) {
  (void)record;
  if (size) line[0] = '\0';
}
