#include "installer/partition_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_platform.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;

// A dialog host holding one combo box, as the partition dialog sees it.
class ComboHost : public platform::DialogHost {
 public:
  std::vector<std::string> list;
  int selection = -1;
  intptr_t ended = -100;
  std::string edit;

  void SetItemText(int, std::string_view text) override { edit = text; }
  std::string GetItemText(int, size_t) override { return edit; }
  void EnableItem(int, bool) override {}
  void CheckRadioButton(int, int, int) override {}
  bool IsButtonChecked(int) override { return false; }
  void ComboReset(int id) override {
    EXPECT_EQ(id, kDriveComboId);
    list.clear();
    selection = -1;
  }
  void ComboAddString(int id, std::string_view text) override {
    EXPECT_EQ(id, kDriveComboId);
    list.emplace_back(text);
  }
  void ComboSetSelection(int, int index) override { selection = index; }
  int ComboGetSelection(int) override { return selection; }
  void EndDialog(intptr_t result) override { ended = result; }
};

TEST(PartitionDialogTest, OffersUsableDrivesOnlyAndSelectsTheFirst) {
  FakePlatform fake;
  fake.driveTypes = {{'A', platform::kDriveRemovable}, {'C', platform::kDriveFixed},
                     {'D', platform::kDriveCdrom},     {'E', platform::kDriveRemote},
                     {'F', platform::kDriveUnknown},   {'G', platform::kDriveRamdisk},
                     {'Z', platform::kDriveRemovable}};
  PartitionDialog dialog;
  ComboHost host;
  dialog.OnInit(host);
  EXPECT_EQ(host.list, (std::vector<std::string>{"C", "E", "G", "Z"}));
  EXPECT_EQ(host.selection, 0);
  EXPECT_EQ(dialog.letterCount(), 4);

  host.selection = 2;
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_EQ(host.ended, kPartitionChosen);
  EXPECT_EQ(dialog.chosenLetter(), 'G');
}

TEST(PartitionDialogTest, NoQualifyingDriveStillOffersC) {
  FakePlatform fake;
  fake.driveTypes = {{'D', platform::kDriveCdrom}};
  PartitionDialog dialog;
  ComboHost host;
  dialog.OnInit(host);
  EXPECT_EQ(host.list, (std::vector<std::string>{"C"}));
  EXPECT_EQ(host.selection, 0);
}

TEST(PartitionDialogTest, OkWithoutASelectedItemKeepsTheDialogOpen) {
  FakePlatform fake;
  fake.driveTypes = {{'C', platform::kDriveFixed}};
  PartitionDialog dialog;
  ComboHost host;
  dialog.OnInit(host);
  host.selection = -1;  // as after typing into the edit field: no list item selected
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_EQ(host.ended, -100);
  host.selection = 1;  // past the list
  EXPECT_TRUE(dialog.OnCommand(host, kOkButtonId, platform::kBnClicked));
  EXPECT_EQ(host.ended, -100);
  EXPECT_FALSE(dialog.OnCommand(host, kDriveComboId, 1));
  EXPECT_TRUE(dialog.OnCommand(host, kCancelButtonId, platform::kBnClicked));
  EXPECT_EQ(host.ended, kPartitionCancelled);
}

TEST(ChooseInstallDriveTest, ReportsTheChoiceOrACancel) {
  FakePlatform fake;
  fake.driveTypes = {{'C', platform::kDriveFixed}, {'D', platform::kDriveFixed}};
  int pressed = kOkButtonId;
  fake.runDialog = [&pressed](int id, platform::DialogProcedure& proc) -> intptr_t {
    EXPECT_EQ(id, kPartitionDialogId);
    ComboHost host;
    proc.OnInit(host);
    host.selection = 1;
    proc.OnCommand(host, pressed, platform::kBnClicked);
    return host.ended;
  };
  DriveChoice choice = ChooseInstallDrive();
  EXPECT_EQ(choice.cancelled, 0);
  EXPECT_EQ(choice.letter, 'D');

  pressed = kCancelButtonId;
  choice = ChooseInstallDrive();
  EXPECT_EQ(choice.cancelled, 1);
  EXPECT_FALSE(choice.failed);
  EXPECT_TRUE(fake.messages.empty());
}

TEST(ChooseInstallDriveTest, ADialogEndedWithoutOkChoosesNothing) {
  FakePlatform fake;
  fake.runDialog = [](int, platform::DialogProcedure& proc) -> intptr_t {
    ComboHost host;
    proc.OnInit(host);
    return 0;  // closed by the host without the user's OK
  };
  EXPECT_EQ(ChooseInstallDrive().cancelled, 1);
}

TEST(ChooseInstallDriveTest, ADialogThatCannotBeCreatedIsReportedAndCancels) {
  FakePlatform fake;  // DialogBox fails with 1813
  const DriveChoice choice = ChooseInstallDrive();
  EXPECT_EQ(choice.cancelled, 1);
  EXPECT_TRUE(choice.failed);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "Eroare ( 1813) in DialogBox (instalare 1)!");
  EXPECT_EQ(fake.messages[0].caption, "Eroare");

  EXPECT_FALSE(StartMigrationDialog('E'));
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, "Eroare ( 1813) in DialogBox (instalare 2)!");
}

}  // namespace
}  // namespace varmex::installer
