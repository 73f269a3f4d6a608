#include "installer/partition_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_platform.h"
#include "testing/recording_dialog_host.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;

using Host = doubles::RecordingDialogHost;

// The drive letters offered in the dialog's combo box.
std::vector<std::string> Offered(const Host& host) {
  const auto it = host.comboItems.find(kDriveComboId);
  return it == host.comboItems.end() ? std::vector<std::string>{} : it->second;
}

TEST(PartitionDialogTest, OffersUsableDrivesOnlyAndSelectsTheFirst) {
  FakePlatform fake;
  fake.driveTypes = {{'A', platform::kDriveRemovable}, {'C', platform::kDriveFixed},
                     {'D', platform::kDriveCdrom},     {'E', platform::kDriveRemote},
                     {'F', platform::kDriveUnknown},   {'G', platform::kDriveRamdisk},
                     {'Z', platform::kDriveRemovable}};
  PartitionDialog dialog(fake);
  Host host;
  dialog.OnInit(host);
  EXPECT_EQ(Offered(host), (std::vector<std::string>{"C", "E", "G", "Z"}));
  EXPECT_EQ(host.comboItems.size(), 1u) << "only the drive combo box is filled";
  EXPECT_EQ(host.ComboGetSelection(kDriveComboId), 0);
  EXPECT_EQ(dialog.letterCount(), 4);

  host.ComboSetSelection(kDriveComboId, 2);
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_EQ(host.result, kPartitionChosen);
  EXPECT_EQ(dialog.chosenLetter(), 'G');
}

TEST(PartitionDialogTest, NoQualifyingDriveStillOffersC) {
  FakePlatform fake;
  fake.driveTypes = {{'D', platform::kDriveCdrom}};
  PartitionDialog dialog(fake);
  Host host;
  dialog.OnInit(host);
  EXPECT_EQ(Offered(host), (std::vector<std::string>{"C"}));
  EXPECT_EQ(host.ComboGetSelection(kDriveComboId), 0);
}

TEST(PartitionDialogTest, OkWithoutASelectedItemKeepsTheDialogOpen) {
  FakePlatform fake;
  fake.driveTypes = {{'C', platform::kDriveFixed}};
  PartitionDialog dialog(fake);
  Host host;
  dialog.OnInit(host);
  // As after typing into the edit field: no list item selected.
  host.ComboSetSelection(kDriveComboId, -1);
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_FALSE(host.result.has_value());
  host.ComboSetSelection(kDriveComboId, 1);  // past the list
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_FALSE(host.result.has_value());
  EXPECT_FALSE(dialog.OnCommand(host, kDriveComboId, 1));
  EXPECT_TRUE(dialog.OnCommand(host, kCancelButtonId, platform::kBnClicked));
  EXPECT_EQ(host.result, kPartitionCancelled);
}

TEST(ChooseInstallDriveTest, ReportsTheChoiceOrACancel) {
  FakePlatform fake;
  fake.driveTypes = {{'C', platform::kDriveFixed}, {'D', platform::kDriveFixed}};
  int pressed = kOkButtonId;
  fake.runDialog = [&pressed](int id, platform::DialogProcedure& proc) -> intptr_t {
    EXPECT_EQ(id, kPartitionDialogId);
    Host host;
    proc.OnInit(host);
    host.ComboSetSelection(kDriveComboId, 1);
    proc.OnCommand(host, pressed, platform::kBnClicked);
    return host.result.value_or(0);
  };
  DriveChoice choice = ChooseInstallDrive(fake);
  EXPECT_EQ(choice.cancelled, 0);
  EXPECT_EQ(choice.letter, 'D');

  pressed = kCancelButtonId;
  choice = ChooseInstallDrive(fake);
  EXPECT_EQ(choice.cancelled, 1);
  EXPECT_FALSE(choice.failed);
  EXPECT_TRUE(fake.messages.empty());
}

TEST(ChooseInstallDriveTest, ADialogEndedWithoutOkChoosesNothing) {
  FakePlatform fake;
  fake.runDialog = [](int, platform::DialogProcedure& proc) -> intptr_t {
    Host host;
    proc.OnInit(host);
    return 0;  // closed by the host without the user's OK
  };
  EXPECT_EQ(ChooseInstallDrive(fake).cancelled, 1);
}

TEST(ChooseInstallDriveTest, ADialogThatCannotBeCreatedIsReportedAndCancels) {
  FakePlatform fake;  // DialogBox fails with 1813
  const DriveChoice choice = ChooseInstallDrive(fake);
  EXPECT_EQ(choice.cancelled, 1);
  EXPECT_TRUE(choice.failed);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Eroare ( 1813) in DialogBox (instalare 1)!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");

  RunState state;
  EXPECT_FALSE(StartMigrationDialog(fake, state, 'E', {}));
  EXPECT_EQ(state.installDrive, 'E');
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, "Eroare ( 1813) in DialogBox (instalare 2)!");
}

}  // namespace
}  // namespace varmex::installer
