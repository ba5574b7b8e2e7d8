// Plans the volume's geometry into the boot sector image and writes sector 0.
#pragma once

#include "platform/win32.h"

// Layout combo box selections.
enum LayoutMode { LAYOUT_ACTUAL_SIZE = 0, LAYOUT_FLOPPY = 1 };

// 1 when the plan was accepted and sector 0 written, else 0.
int PlanAndWriteBootSector(void);
// The FAT size formula over the image's fields, in sectors.
DWORD ComputeFatSize(void);
