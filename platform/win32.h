// The one platform header of the system's code: the real Win32 headers on
// Windows, the stand-in everywhere else.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <dbt.h>
#else
#include "platform/standin/win32_api.h"
#endif
