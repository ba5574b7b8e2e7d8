#include "engine/layout_planning.h"

#include "engine/app_state.h"

int PlanAndWriteBootSector(void) { return 0; }

DWORD ComputeFatSize(void) { return 0; }
