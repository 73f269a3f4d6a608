#include "platform/simulated_dialog.h"

#include <gtest/gtest.h>

#include <set>

namespace varmex::platform {
namespace {

using resources::ControlKind;
using resources::FindDialog;

TEST(DialogDescriptionTest, TheThreeDialogsAsDescribed) {
  const auto* d101 = FindDialog(101);
  ASSERT_NE(d101, nullptr);
  EXPECT_EQ(d101->caption, "Instalare Varmex 38 ERP");
  EXPECT_EQ(d101->width, 210);
  EXPECT_EQ(d101->height, 49);
  EXPECT_EQ(d101->fontName, "MS Sans Serif");
  ASSERT_EQ(d101->Controls().size(), 4u);
  const auto& combo = d101->Controls()[3];
  EXPECT_EQ(combo.id, 1002);
  EXPECT_EQ(combo.kind, ControlKind::kComboBox);
  EXPECT_EQ(combo.x, 170);
  EXPECT_EQ(combo.height, 50);
  EXPECT_NE(combo.style & resources::kStyleComboSort, 0u);

  const auto* d102 = FindDialog(102);
  ASSERT_NE(d102, nullptr);
  EXPECT_EQ(d102->caption, "Instalere KEDRO / Varmex 37 - generare GRUPDEV-uri");
  EXPECT_EQ(
      d102->Controls()[1].text,
      "Doriti ca pentru aceasta investitie sa se  genereze cate un GRUPDEV pentru fiecare obiect?");

  const auto* d107 = FindDialog(107);
  ASSERT_NE(d107, nullptr);
  EXPECT_EQ(d107->caption, "Instalare Varmex 37 ERP - Preluare date din versiunea precedenta");
  EXPECT_EQ(FindDialog(103), nullptr);

  // Every addressed control id is unique within its dialog and lies inside it.
  for (const auto& d : resources::AllDialogs()) {
    std::set<int> ids;
    for (const auto& c : d.Controls()) {
      if (c.id != resources::kNoControlId) {
        EXPECT_TRUE(ids.insert(c.id).second) << d.id << " " << c.id;
      }
      EXPECT_LE(c.x + c.width, d.width) << d.id << " " << c.id;
      EXPECT_LE(c.y + c.height, c.kind == ControlKind::kComboBox ? d.height + 50 : d.height);
    }
  }
}

TEST(SimulatedDialogTest, SortedComboKeepsItsListSortedAndItsSelection) {
  SimulatedDialog d(*FindDialog(101));
  d.ComboAddString(1002, "E");
  d.ComboSetSelection(1002, 0);
  d.ComboAddString(1002, "c");
  d.ComboAddString(1002, "Z");
  d.ComboAddString(1002, "D");
  const auto* combo = d.Find(1002);
  EXPECT_EQ(combo->items, (std::vector<std::string>{"c", "D", "E", "Z"}));
  EXPECT_EQ(d.ComboGetSelection(1002), 2) << "E stays selected";
  EXPECT_EQ(d.GetItemText(1002, 255), "E");

  d.ComboSetSelection(1002, 7);  // outside the list: no selection
  EXPECT_EQ(d.ComboGetSelection(1002), -1);
  EXPECT_EQ(d.GetItemText(1002, 255), "");
  d.ComboReset(1002);
  EXPECT_TRUE(d.Find(1002)->items.empty());
  EXPECT_EQ(d.ComboGetSelection(1002), -1);
}

TEST(SimulatedDialogTest, TextsChecksAndUnknownControls) {
  SimulatedDialog d(*FindDialog(107));
  d.SetItemText(1021, std::string(300, 'a'));
  EXPECT_EQ(d.GetItemText(1021, 255).size(), 255u);
  d.CheckRadioButton(1004, 1005, 1005);
  EXPECT_FALSE(d.IsButtonChecked(1004));
  EXPECT_TRUE(d.IsButtonChecked(1005));
  d.CheckRadioButton(1004, 1005, 1004);
  EXPECT_TRUE(d.IsButtonChecked(1004));
  EXPECT_FALSE(d.IsButtonChecked(1005));

  // Calls on controls that do not exist change nothing and do not fail.
  d.SetItemText(9, "x");
  d.EnableItem(9, false);
  d.ComboAddString(1021, "x");  // not a combo box
  EXPECT_EQ(d.GetItemText(9, 10), "");
  EXPECT_EQ(d.ComboGetSelection(9), -1);
  EXPECT_FALSE(d.IsButtonChecked(9));

  d.EndDialog(1);
  d.EndDialog(2);  // the first end counts
  EXPECT_TRUE(d.ended());
  EXPECT_EQ(d.result(), 1);
}

TEST(SimulatedDialogTest, AutoRadioClickStaysInsideItsGroup) {
  SimulatedDialog d(*FindDialog(107));
  d.CheckRadioButton(1004, 1005, 1005);
  auto o = d.Click(1004);
  ASSERT_TRUE(o.command);
  EXPECT_EQ(o.command->id, 1004);
  EXPECT_EQ(o.command->notification, kBnClicked);
  EXPECT_TRUE(d.IsButtonChecked(1004));
  EXPECT_FALSE(d.IsButtonChecked(1005));
  d.Click(1004);  // clicking a checked radio button keeps it checked
  EXPECT_TRUE(d.IsButtonChecked(1004));

  d.EnableItem(1005, false);
  o = d.Click(1005);
  EXPECT_FALSE(o.command);
  EXPECT_TRUE(o.problem.empty());
  EXPECT_FALSE(d.IsButtonChecked(1005));
}

}  // namespace
}  // namespace varmex::platform
