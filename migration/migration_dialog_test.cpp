// Dialog 107's OK over whole migrations of a small generated collection: the folder
// typed must leave room for every name the migration builds under it, and a price
// base that cannot be read is named once.
#include "migration/migration_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "migration/pipeline.h"
#include "tests/fault_support.h"

namespace varmex::migration {
namespace {

using fault::World;

// The world's old collection moved to `folder` (a path without a final backslash),
// with a data file of the longest name the migration looks for.
void MoveCollection(World& w, int version, const std::string& folder) {
  for (const auto& [path, bytes] : w.old()) {
    std::vector<uint8_t> keep = bytes;
    w.os.DeleteFile(path);
    w.os.AddFile(folder + "\\" + path.substr(w.root().size()), std::move(keep));
  }
  w.os.AddFile(folder + (version == 36 ? "\\Varmex" : "") + "\\ARHREAEF.DAT", {1, 2, 3});
}

std::vector<std::string> Texts(const World& w) {
  std::vector<std::string> out;
  for (const auto& m : w.os.messages) out.push_back(m.text);
  return out;
}

// A folder of the longest length accepted is migrated as the default folder is, every
// name whole; one character more is refused in the dialog with the limit, before any
// file is looked up, and the dialog stays open for a shorter path.
TEST(MigrationDialogOk, AFolderTooLongForTheProgramsPathsIsRefusedWhereItIsTyped) {
  struct Case {
    int version;
    size_t length;  // of the folder, without a final backslash
    bool finalBackslash;
    bool accepted;
  } cases[] = {
      {36, 236, false, true},   {36, 236, true, true},  {36, 237, false, false},
      {36, 248, true, false},   {35, 243, false, true}, {35, 244, false, false},
      {36, 5000, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " " + std::to_string(c.length));
    World sound(c.version);
    ASSERT_TRUE(sound.Migrate());  // the same collection from its own, short folder

    World w(c.version);
    const std::string folder = "C:\\" + std::string(c.length - 3, 'v');
    MoveCollection(w, c.version, folder);
    MigrationDialog dialog(w.os, 'D', grupdev::GrupdevLimits{5, 10});
    if (c.version == 35) dialog.OnCommand(w.dialog, kVersion35Radio, platform::kBnClicked);
    w.dialog.texts[kOldDirectoryEdit] = folder + (c.finalBackslash ? "\\" : "");
    EXPECT_TRUE(dialog.OnCommand(w.dialog, kOkButton, platform::kBnClicked));
    if (c.accepted) {
      std::vector<std::string> expected = Texts(sound);
      for (std::string& text : expected) {
        const size_t at = text.find(sound.root());
        if (at != std::string::npos) text.replace(at, sound.root().size() - 1, folder);
      }
      EXPECT_EQ(Texts(w), expected);
      EXPECT_EQ(w.dialog.result, 1);
      // Every data file under its whole name, the longest included.
      for (const char* name : {"DEV.DAT", "FURNMAT.DAT", "BAZ001.DAT", "ARHREAEF.DAT"}) {
        EXPECT_TRUE(w.os.Exists(std::string(fault::kNewData) + name)) << name;
      }
      continue;
    }
    const size_t most = c.version == 36 ? 236 : 243;
    ASSERT_EQ(w.os.messages.size(), 1u);
    EXPECT_EQ(w.os.messages[0].text,
              "Calea directorului este prea lunga (" + std::to_string(c.length) +
                  " de caractere)!\nPentru preluarea din Varmex " + std::to_string(c.version) +
                  " calea poate avea cel mult " + std::to_string(most) + " de caractere.");
    EXPECT_EQ(w.os.messages[0].caption, "Eroare");
    EXPECT_FALSE(w.dialog.result.has_value());
    EXPECT_TRUE(w.dialog.disabled.empty());
    EXPECT_FALSE(w.os.Exists(std::string(fault::kNewData) + "DEV.DAT"));
  }
}

// A price base the GRUPDEV generation loads for each of its groups, and the conversion
// reads once more, is named once when it cannot be read; the steps go on as before.
TEST(MigrationDialogOk, APriceBaseThatCannotBeReadIsNamedOnce) {
  const auto faults = [](const World& w) {
    return std::count_if(w.os.messages.begin(), w.os.messages.end(),
                         [](const auto& m) { return m.text == "Eroare citere baza pret!"; });
  };
  const auto cutBase = [](World& w) {
    std::vector<uint8_t>* base = w.os.Bytes(w.root() + "Varmex\\BAZ001.DAT");
    ASSERT_NE(base, nullptr);
    ASSERT_GT(base->size(), 2u * 512);
    base->resize(2 * 512);  // block 1 and the first data block only
  };

  World each(36);  // the pipeline alone: each reader shows each failure
  cutBase(each);
  ASSERT_TRUE(each.Migrate());
  EXPECT_GT(faults(each), 1);

  World once(36);
  cutBase(once);
  MigrationDialog dialog(once.os, 'D', grupdev::GrupdevLimits{5, 10});
  EXPECT_TRUE(dialog.OnCommand(once.dialog, kOkButton, platform::kBnClicked));
  EXPECT_EQ(faults(once), 1);
  fault::ExpectOrderlyEnd(once, "named once");
  // Every other message is as in the run that showed each failure.
  std::vector<std::string> others = Texts(each);
  others.erase(std::remove(others.begin(), others.end(), "Eroare citere baza pret!"), others.end());
  std::vector<std::string> seen = Texts(once);
  seen.erase(std::remove(seen.begin(), seen.end(), "Eroare citere baza pret!"), seen.end());
  EXPECT_EQ(seen, others);
}

}  // namespace
}  // namespace varmex::migration
