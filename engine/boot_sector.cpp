#include "engine/boot_sector.h"

#include <string.h>

DWORD GetBootField(const unsigned char* sector, BootField field) {
  DWORD value = 0;
  for (unsigned i = field.width; i-- > 0;) value = (value << 8) | sector[field.offset + i];
  return value;
}

void SetBootField(unsigned char* sector, BootField field, DWORD value) {
  for (unsigned i = 0; i < field.width; i++) {
    sector[field.offset + i] = (unsigned char)(value & 0xFF);
    value >>= 8;
  }
}

void SetBootBytes(unsigned char* sector, BootField field, const void* bytes) {
  memcpy(sector + field.offset, bytes, field.width);
}

DWORD BootTotalSectors(const unsigned char* sector) {
  DWORD total = GetBootField(sector, BPB_TotSec16);
  return total != 0 ? total : GetBootField(sector, BPB_TotSec32);
}

void ClearBootSectorImage(BootSectorImage* image) { memset(image->bytes, 0, sizeof image->bytes); }
