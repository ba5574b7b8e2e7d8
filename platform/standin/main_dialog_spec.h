// The host's picture of IDD_MAIN, built from the same control rows as the
// edition's resource script. Include where edition.h is on the include path.
#pragma once

#include "edition.h"
#include "platform/standin/machine.h"
#include "ui/control_ids.h"

namespace standin {

inline DialogSpec MainDialogSpec() {
  DialogSpec layout;
  layout.caption = EDITION_DIALOG_CAPTION;
  layout.w = EDITION_DIALOG_WIDTH;
  layout.h = EDITION_DIALOG_HEIGHT;
  layout.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT |
               DS_3DLOOK | DS_CENTER;
  const DWORD SHOWN = WS_VISIBLE, HIDDEN = 0;
#define CONTROL_ROW(id, cls, text, x, y, w, h, style, ex, vis) \
  layout.controls.push_back(ControlSpec{id, cls, text, x, y, w, h, WS_CHILD | (style) | (vis), ex});
#include "main_dialog.inc"
#undef CONTROL_ROW
  (void)HIDDEN;
  return layout;
}

}  // namespace standin
