#include "engine/fat_writers.h"

#include "engine/app_state.h"

int WriteFats(void) { return 0; }

int WriteRootDirectory(void) { return 0; }
