// Ossiter, the 1.44M edition.
#pragma once
#define EDITION_FLOPPY_CHOICE 0
#define EDITION_EJECT_AFTER_FORMAT 0
#define EDITION_NAME "Ossiter"
#define EDITION_DIALOG_CAPTION "Ossiter v1.0"
#define EDITION_DIALOG_WIDTH 157
#define EDITION_DIALOG_HEIGHT 102
