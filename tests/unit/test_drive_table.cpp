#include <cstring>

#include "discovery/drive_table.h"
#include "support/machine_test.h"

using namespace testsupport;

namespace {

TEST_F(MachineTest, AFreshTableHasNoUsedRecord) {
  EXPECT_EQ(g_app.drives.records[0].physicalName[0], '\0');
  EXPECT_EQ(DriveRecordAt(&g_app.drives, 0), nullptr);
}

TEST(DriveTable, ClearAndReplaceCoverAllRecords) {
  DriveTable built{};
  for (int i = 0; i < DRIVE_TABLE_SIZE; i++) {
    snprintf(built.records[i].physicalName, PHYSICAL_NAME_SIZE, "physicaldrive%d", i);
    built.records[i].sectorCount = static_cast<DWORD>(i + 1);
    built.records[i].fatKind = FS_FAT16;
  }
  DriveTable table{};
  ReplaceDriveTable(&table, &built);
  EXPECT_EQ(0, memcmp(&table, &built, sizeof table));
  ClearDriveTable(&table);
  DriveTable zero{};
  EXPECT_EQ(0, memcmp(&table, &zero, sizeof table));
}

TEST(DriveTable, RecordAtNamesOnlyUsedRecords) {
  DriveTable table{};
  strcpy(table.records[0].physicalName, "physicaldrive1");
  strcpy(table.records[1].physicalName, "physicaldrive2");
  EXPECT_EQ(DriveRecordAt(&table, 0), &table.records[0]);
  EXPECT_EQ(DriveRecordAt(&table, 1), &table.records[1]);
  for (int index : {-1, 2, 31, 32, 1000}) EXPECT_EQ(DriveRecordAt(&table, index), nullptr) << index;
}

}  // namespace
