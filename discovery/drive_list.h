// The drive list of the main dialog: one line per disk record.
#pragma once

#include <stddef.h>

#include "discovery/drive_table.h"

// Empties the list, re-enumerates the table, adds a line per record and
// prompts for a selection.
void RefreshDriveList(void);
// The list line of one record, always NUL-terminated within size bytes.
void FormatDriveLine(const DriveRecord* record, char* line, size_t size);
