#include <cstring>

#include "engine/app_state.h"
#include "support/machine_test.h"

using namespace testsupport;

namespace {

TEST(BootSectorImage, FieldsSitAtTheirOffsetsLittleEndian) {
  struct Case {
    BootField field;
    unsigned offset, width;
  } cases[] = {
      {BPB_BytsPerSec, 11, 2}, {BPB_SecPerClus, 13, 1}, {BPB_RsvdSecCnt, 14, 2},
      {BPB_NumFATs, 16, 1},    {BPB_RootEntCnt, 17, 2}, {BPB_TotSec16, 19, 2},
      {BPB_Media, 21, 1},      {BPB_FATSz16, 22, 2},    {BPB_SecPerTrk, 24, 2},
      {BPB_NumHeads, 26, 2},   {BPB_HiddSec, 28, 4},    {BPB_TotSec32, 32, 4},
      {BS_DrvNum, 36, 1},      {BS_Reserved1, 37, 1},   {BS_BootSig, 38, 1},
      {BS_VolID, 39, 4},       {BPB_FATSz32, 36, 4},
  };
  for (auto& c : cases) {
    BootSectorImage image{};
    DWORD value = c.width == 1 ? 0xA7u : c.width == 2 ? 0xB2C3u : 0xD4E5F607u;
    SetBootField(image.bytes, c.field, value);
    EXPECT_EQ(c.field.offset, c.offset);
    EXPECT_EQ(GetBootField(image.bytes, c.field), value) << c.offset;
    for (unsigned i = 0; i < 512; i++) {
      unsigned char expected = 0;
      if (i >= c.offset && i < c.offset + c.width) expected = (value >> (8 * (i - c.offset))) & 0xFF;
      ASSERT_EQ(image.bytes[i], expected) << "field at " << c.offset << ", byte " << i;
    }
  }
}

TEST(BootSectorImage, TextsAreCopiedWithoutTerminator) {
  BootSectorImage image{};
  memset(image.bytes, 0xCC, sizeof image.bytes);
  SetBootBytes(image.bytes, BS_OEMName, "MSDOS5.0");
  SetBootBytes(image.bytes, BS_VolLab, "NO NAME    ");
  SetBootBytes(image.bytes, BS_FilSysType, "FAT12   ");
  EXPECT_EQ(0, memcmp(image.bytes + 3, "MSDOS5.0", 8));
  EXPECT_EQ(image.bytes[11], 0xCC);
  EXPECT_EQ(0, memcmp(image.bytes + 43, "NO NAME    FAT12   ", 19));
  EXPECT_EQ(image.bytes[62], 0xCC);
}

TEST(BootSectorImage, TotalTakesTheSixteenBitFieldFirst) {
  BootSectorImage image{};
  SetBootField(image.bytes, BPB_TotSec32, 70000);
  EXPECT_EQ(BootTotalSectors(image.bytes), 70000u);
  SetBootField(image.bytes, BPB_TotSec16, 2880);
  EXPECT_EQ(BootTotalSectors(image.bytes), 2880u);
}

TEST_F(MachineTest, TheImageStartsZeroAndClearsToZero) {
  for (unsigned char b : g_app.image.bytes) ASSERT_EQ(b, 0);
  memset(g_app.image.bytes, 0x5F, sizeof g_app.image.bytes);
  ClearBootSectorImage(&g_app.image);
  for (unsigned char b : g_app.image.bytes) ASSERT_EQ(b, 0);
}

TEST(BootProgramTemplate, CarriesItsTextsAndNamesAtTheirPlaces) {
  auto at = [](unsigned sectorOffset) { return BootProgramTemplate + (sectorOffset - 62); };
  const unsigned char start[] = {0x33, 0xC9, 0x8E, 0xD1, 0xBC, 0xFC, 0x7B};
  EXPECT_EQ(0, memcmp(at(62), start, sizeof start));
  const unsigned char table[] = {0x03, 0x18, 0x01, 0x27};
  EXPECT_EQ(0, memcmp(at(383), table, 4));
  EXPECT_EQ(0, memcmp(at(387), "\r\nInvalid system disk\xFF", 22));
  EXPECT_EQ(0, memcmp(at(409), "\r\nDisk I/O error\xFF", 17));
  EXPECT_EQ(0, memcmp(at(426), "\r\nReplace the disk, and then press any key\r\n", 45));
  EXPECT_EQ(*at(471), 0);
  EXPECT_EQ(0, memcmp(at(472), "IO      SYSMSDOS   SYS\x7F\x01", 24));
  EXPECT_EQ(*at(496), 0);
  EXPECT_EQ(*at(508), 0);
  EXPECT_EQ(*at(509), 0);
}

}  // namespace
