#include "discovery/drive_table.h"

#include <string.h>

void ClearDriveTable(DriveTable* table) { memset(table, 0, sizeof *table); }

void ReplaceDriveTable(DriveTable* destination, const DriveTable* source) {
  memcpy(destination, source, sizeof *destination);
}

DriveRecord* DriveRecordAt(DriveTable* table, int index) {
  if (index < 0 || index >= DRIVE_TABLE_SIZE) return 0;
  for (int i = 0; i <= index; i++)
    if (table->records[i].physicalName[0] == '\0') return 0;
  return &table->records[index];
}
