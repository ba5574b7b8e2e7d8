// Tells which FAT variant a volume carries, from its own first sector.
#pragma once

#include "discovery/drive_table.h"

// driveName is a letter and a colon, such as "E:". Returns an FsKind.
int DetectFileSystem(const char* driveName);
