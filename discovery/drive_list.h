// The drive list of the main dialog: one line per disk record.
#pragma once

#include <stddef.h>

#include "discovery/drive_table.h"

// Holds the longest line: the texts around the volume text, ten digits of
// device number and the widest size value are well within the margin.
#define DRIVE_LINE_SIZE (VOLUME_TEXT_SIZE + 64)

// Empties the list, re-enumerates the table, adds a line per record and
// prompts for a selection. UI thread only.
//
// What callers may rely on:
// - Line i of the list is record i of g_app.drives when it returns.
// - Only this function rewrites the table and the list, and only on the
//   calling thread; nothing else is touched on another thread.
// - Refreshes never overlap. A call made while one runs (a device change
//   dispatched while the enumeration's message box is shown) only marks a
//   refresh as pending and returns at once, leaving the list empty, the
//   table reading as empty and the status line as it is; the running call
//   then enumerates again before it returns, so its result is never older
//   than the last call.
void RefreshDriveList(void);
// The list line of one record, always NUL-terminated within size bytes.
void FormatDriveLine(const DriveRecord* record, char* line, size_t size);
