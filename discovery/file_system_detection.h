// Tells which FAT variant a volume carries, from its own first sector.
#pragma once

#include "discovery/drive_table.h"

// driveName is a letter and a colon, such as "E:". Returns an FsKind; 0 for
// a volume that cannot be opened or read and for a sector that is no FAT boot
// sector.
int DetectFileSystem(const char* driveName);
