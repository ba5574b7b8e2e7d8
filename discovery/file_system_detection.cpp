#include "discovery/file_system_detection.h"

int DetectFileSystem(const char* driveName) {
  (void)driveName;
  return FS_UNKNOWN;
}
