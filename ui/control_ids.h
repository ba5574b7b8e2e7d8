// Resource and control identifiers of the main dialog; also read by the
// resource compiler.
#pragma once

#define IDD_MAIN 129
#define IDI_PROGRAM 107

#define IDC_START 1002
#define IDC_LABEL 1003
#define IDC_DRIVE_LIST 1004
#define IDC_FILL_CHECK 1007
#define IDC_STATUS 1009
#define IDC_ROOT_ENTRIES 1010
#define IDC_ROOT_ENTRIES_LABEL 1012
#define IDC_CLUSTER_SIZE_LABEL 1013
#define IDC_CLUSTER_SIZE 1017
#define IDC_FAT_COUNT_LABEL 1019
#define IDC_FAT_COUNT 1021
#define IDC_FILL_VALUE 1022
#define IDC_LAYOUT 1027
#define IDC_FLOPPY_720K 1032
#define IDC_FLOPPY_144M 1033
#define IDC_STATIC_ANY (-1)
