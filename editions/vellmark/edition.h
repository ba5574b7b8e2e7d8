// Vellmark, the floppy-format edition.
#pragma once
#define EDITION_FLOPPY_CHOICE 1
#define EDITION_EJECT_AFTER_FORMAT 1
#define EDITION_NAME "Vellmark"
#define EDITION_DIALOG_CAPTION "Vellmark V1.1"
#define EDITION_DIALOG_WIDTH 154
#define EDITION_DIALOG_HEIGHT 131
