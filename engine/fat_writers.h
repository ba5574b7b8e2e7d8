// Lay down the empty FAT region and root directory behind a planned boot sector.
#pragma once

// Each returns 1 on success, 0 at the first failed sector operation.
int WriteFats(void);
int WriteRootDirectory(void);
