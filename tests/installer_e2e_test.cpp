// End-to-end tests of the installation: the built varmex-setup run with answer
// scripts over scratch drives, the demo medium as its current directory, the real
// unrar and the stand-in shortcut maker (or failing stand-ins where a failure must be
// provoked). Each test checks the transcript and the files left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/first_install_commands.h"
#include "tests/support/e2e.h"
#include "tools/demo_medium/demo_medium.h"
#include "tools/rarwrite/rar_writer.h"

namespace varmex {
namespace {

using e2e::Exists;
using e2e::IsDirectory;

constexpr const char* kChooseFirstAndDecline = "dialog 101\nclick 1\nanswer no\n";
constexpr const char* kSuccess = "Instalare cu succes!";
constexpr const char* kQuestionStart = "Daca aveti o colectie veche de Varmex (35 sau 36)";

class InstallerE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d_ = scratch_.Drive('D');
    medium_ = scratch_.Folder("medium");
  }

  void WriteMedium(tools::MediumOptions options = {}) {
    if (options.mklnkPath.empty()) options.mklnkPath = e2e::BinDir() + "/mklnk";
    tools::WriteMedium(medium_, options);
  }

  e2e::Run Install(const std::string& script, std::vector<std::string> args = {}) {
    e2e::RunOptions o;
    o.script = script;
    o.args = std::move(args);
    o.cwd = medium_;
    o.driveTypes = driveTypes_;
    return e2e::RunSetup(scratch_, o);
  }

  // A copy of varmex-setup alone in a folder, with the given stand-in unrar script
  // (none when empty), run with a PATH that holds no other unpacking tool.
  e2e::Run SetupWithStandInUnrar(const std::string& unrarScript, const std::string& script) {
    const std::string bin = scratch_.Folder("alone");
    e2e::CopyFile(e2e::BinDir() + "/varmex-setup", bin + "/varmex-setup");
    if (!unrarScript.empty()) scratch_.WriteFile("alone/unrar", unrarScript, true);
    e2e::RunOptions o;
    o.program = bin + "/varmex-setup";
    o.script = script;
    o.cwd = medium_;
    o.pathVar = scratch_.Folder("empty-path");
    return e2e::RunSetup(scratch_, o);
  }

  static bool Contains(const std::vector<std::string>& list, const std::string& part) {
    for (const std::string& s : list) {
      if (s.find(part) != std::string::npos) return true;
    }
    return false;
  }

  e2e::Scratch scratch_;
  std::string d_;
  std::string medium_;
  std::string driveTypes_;
};

TEST_F(InstallerE2eTest, AFirstInstallationUnpacksEverythingAndEndsWithSuccessAfterNo) {
  WriteMedium();
  const e2e::Run run = Install(kChooseFirstAndDecline);
  ASSERT_EQ(run.status, 0) << run.Transcript();

  EXPECT_EQ(run.Commands(), varmex::doubles::FirstInstallCommandsOnD()) << run.Transcript();
  for (const e2e::Event& e : run.Events("run")) {
    EXPECT_EQ(e.Get("result"), "0") << e.raw;
    if (e.Get("command").rfind("unrar", 0) == 0) {
      EXPECT_EQ(e.Get("exit"), "0") << e.raw;
    } else {
      EXPECT_FALSE(e.Has("exit")) << e.raw;  // the shortcut maker's exit code is not asked for
    }
  }

  const std::vector<e2e::Event> messages = run.Events("message");
  ASSERT_EQ(messages.size(), 2u) << run.Transcript();
  EXPECT_EQ(messages[0].Get("title"), "Instalare Varmex 38 ERP");
  EXPECT_EQ(messages[0].Get("style"), "36");
  EXPECT_EQ(messages[0].Get("answer"), "no");
  EXPECT_EQ(messages[0].Get("text").rfind(kQuestionStart, 0), 0u);
  EXPECT_NE(messages[0].Get("text").find(" ERP.\nDoriti sa transformati"), std::string::npos);
  EXPECT_EQ(messages[1].Get("text"), kSuccess);
  EXPECT_EQ(messages[1].Get("style"), "48");
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.front().raw, "{\"event\":\"dialog\",\"id\":101}");
  EXPECT_EQ(run.events.back().kind(), "exit");
  EXPECT_EQ(run.events.back().Get("status"), "0");

  // Files: "e" drops the archive's folders, "x" keeps them.
  EXPECT_TRUE(Exists(d_ + "/kedro/Varmex/devprog.exe"));
  EXPECT_FALSE(Exists(d_ + "/kedro/Varmex/bin"));
  EXPECT_TRUE(Exists(d_ + "/kedro/Varmex/varmdat.txt"));
  EXPECT_EQ(e2e::ReadFile(d_ + "/kedro/Varmex/tutorial/imagini/schita1.txt"), "Schita 1\n");
  EXPECT_TRUE(Exists(d_ + "/kedro/Rasvent/FileGen/plcont.dat"));
  EXPECT_TRUE(Exists(d_ + "/kedro/ERP/anga.dat"));
  EXPECT_TRUE(Exists(d_ + "/kedro/Quovar/quovar.exe"));
  EXPECT_TRUE(Exists(d_ + "/kedro/Bentak/bentak.exe"));
  // The stand-in shortcut maker ran from the ERP directory with translated paths.
  const std::string shortcut = e2e::ReadFile(d_ + "/kedro/ERP/Varmex38.lnk");
  EXPECT_NE(shortcut.find("target=" + d_ + "/kedro/ERP/menuerp.exe"), std::string::npos)
      << shortcut;

  // A second run over the same partition is an update: no data archives, no question.
  const e2e::Run again = Install("dialog 101\nclick 1\n");
  EXPECT_EQ(again.status, 0) << again.Transcript();
  EXPECT_FALSE(Contains(again.Commands(), "varmdat.rar"));
  EXPECT_FALSE(Contains(again.Commands(), "filegen.rar"));
  EXPECT_FALSE(Contains(again.Commands(), "erpdat.rar"));
  EXPECT_TRUE(Contains(again.Commands(), "unrar e -y bfur.rar"));
  EXPECT_EQ(again.Messages(), std::vector<std::string>{kSuccess});
}

TEST_F(InstallerE2eTest, SwitchesAreOnlyTheFourSpellingsWithinTheScan) {
  // No medium: a run that installs stops at the first archive, a migrate-only run
  // goes straight to the question.
  const std::string missing = "Nu exista fisierul varmex38.rar!";
  struct Case {
    std::vector<std::string> args;
    bool migrateOnly;
  };
  const std::vector<Case> cases = {
      {{"/prel"}, true},
      {{"/PREL", "/DEBUG"}, true},
      {{"/debug", "/PREL"}, true},
      {{"/Prel"}, false},
      {{"/prelx"}, false},
      {{"/prel2", "/debug2"}, false},
      {{"x", "", "/prel"}, false},  // a blank argument ends the scan
      {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "/prel"}, true},
      {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "/prel"},
       false},  // the 11th is never seen
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& a : c.args) label += "[" + a + "]";
    SCOPED_TRACE(label);
    const e2e::Run run = Install("dialog 101\nclick 1\nanswer no\n", c.args);
    ASSERT_FALSE(run.events.empty()) << run.Transcript();
    EXPECT_EQ(run.events.front().raw, "{\"event\":\"dialog\",\"id\":101}");
    if (c.migrateOnly) {
      EXPECT_EQ(run.status, 0) << run.Transcript();
      EXPECT_TRUE(run.Commands().empty());
      ASSERT_EQ(run.Messages().size(), 2u) << run.Transcript();
      EXPECT_EQ(run.Messages()[0].rfind(kQuestionStart, 0), 0u);
      EXPECT_EQ(run.Messages()[1], kSuccess);
    } else {
      EXPECT_EQ(run.status, 1) << run.Transcript();
      EXPECT_EQ(run.Messages(), std::vector<std::string>{missing});
    }
    EXPECT_FALSE(Exists(d_ + "/kedro"));
  }
}

TEST_F(InstallerE2eTest, EachProbeFileMakesItsDataArchiveOptional) {
  // Varmex present through devprog.exe alone: no varmdat, bfur optional (a warning).
  tools::MediumOptions update;
  update.omit = {"varmdat.rar", "bfur.rar", "tutorial.rar"};
  WriteMedium(update);
  scratch_.WriteFile("drives/D/kedro/Varmex/devprog.exe", "old program");
  e2e::Run run = Install("dialog 101\nclick 1\n");
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_EQ(run.Messages(),
            (std::vector<std::string>{"Lipsa bfur.rar! Nu se va actualiza banca de furnizori!",
                                      kSuccess}));
  EXPECT_EQ(run.Events("message").at(0).Get("title"), "Atentie");
  EXPECT_EQ(e2e::ReadFile(d_ + "/kedro/Varmex/devprog.exe"),
            "Varmex 38 estimating program (placeholder)\n");

  // ERP data present: erpdat.rar not needed, varmdat.rar and bfur.rar are.
  e2e::Scratch other;
  const std::string e = other.Drive('D');
  other.WriteFile("drives/D/kedro/ERP/anga.dat", "old data");
  e2e::RunOptions o;
  o.script = "dialog 101\nclick 1\n";
  o.cwd = medium_;
  run = e2e::RunSetup(other, o);
  EXPECT_EQ(run.status, 1) << run.Transcript();
  EXPECT_EQ(run.Messages(), std::vector<std::string>{"Nu exista fisierul varmdat.rar!"});

  tools::MediumOptions noErpData;
  noErpData.omit = {"erpdat.rar", "filegen.rar"};
  WriteMedium(noErpData);
  other.WriteFile("drives/D/kedro/Rasvent/FileGen/plcont.dat", "old FileGen data");
  run = e2e::RunSetup(other, o);
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_FALSE(Contains(run.Commands(), "erpdat.rar"));
  EXPECT_FALSE(Contains(run.Commands(), "filegen.rar"));
  EXPECT_TRUE(Contains(run.Commands(), "unrar e -y varmdat.rar"));
  EXPECT_EQ(run.Messages(), std::vector<std::string>{kSuccess});  // no question: data were there
  EXPECT_EQ(e2e::ReadFile(e + "/kedro/ERP/anga.dat"), "old data");
  EXPECT_EQ(e2e::ReadFile(e + "/kedro/Rasvent/FileGen/plcont.dat"), "old FileGen data");
}

TEST_F(InstallerE2eTest, EachRequiredArchiveMissingStopsBeforeAnyDirectory) {
  for (const char* name : {"varmex38.rar", "quovar.rar", "rasvent.rar", "erp.rar", "bentak.rar",
                           "varmdat.rar", "bfur.rar", "filegen.rar", "erpdat.rar"}) {
    SCOPED_TRACE(name);
    for (const char* any : tools::kMediumArchives) std::remove((medium_ + "/" + any).c_str());
    tools::MediumOptions o;
    o.omit = {name};
    WriteMedium(o);
    const e2e::Run run = Install(kChooseFirstAndDecline);
    EXPECT_EQ(run.status, 1) << run.Transcript();
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{std::string("Nu exista fisierul ") + name + "!"});
    EXPECT_EQ(run.Events("message").at(0).Get("title"), "Eroare");
    EXPECT_EQ(run.Events("message").at(0).Get("style"), "266288");
    for (const std::string& c : run.Commands()) EXPECT_EQ(c.rfind("unrar t ", 0), 0u) << c;
    EXPECT_FALSE(Exists(d_ + "/kedro"));
    EXPECT_EQ(run.events.back().Get("status"), "1");
  }
  // erpdat.rar, the last one, is found missing only after all the others were tested.
  const e2e::Run last = Install(kChooseFirstAndDecline);
  EXPECT_EQ(last.Commands().size(), 9u);
}

TEST_F(InstallerE2eTest, AMissingTutorialNeverStops) {
  tools::MediumOptions o;
  o.omit = {"tutorial.rar"};
  WriteMedium(o);
  const e2e::Run run = Install(kChooseFirstAndDecline);
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_FALSE(Contains(run.Commands(), "tutorial"));
  EXPECT_EQ(run.Messages().back(), kSuccess);
  EXPECT_FALSE(Exists(d_ + "/kedro/Varmex/tutorial"));
}

TEST_F(InstallerE2eTest, ADamagedArchiveGivesTheThreeLineMessageBeforeAnythingIsWritten) {
  WriteMedium();
  const std::string path = medium_ + "/bentak.rar";
  std::string raw = e2e::ReadFile(path);
  const std::vector<uint8_t> bytes(raw.begin(), raw.end());
  const int64_t at = tools::DataOffsetOfEntry(bytes, 0);
  ASSERT_GT(at, 0);
  raw[static_cast<size_t>(at)] ^= 0x01;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << raw;

  const e2e::Run run = Install(kChooseFirstAndDecline);
  EXPECT_EQ(run.status, 1) << run.Transcript();
  EXPECT_EQ(run.Messages(),
            std::vector<std::string>{
                "Arhiva bentak.rar este alterata ('unrar t' retcode= 3)!\n"
                "Pentru a continua instalarea e necesara inlocuirea acestei arhive.\n"
                "Puteti descarca aceasta arhiva de pe site-ul www.varmex.ro"});
  EXPECT_EQ(run.Events("run").back().Get("exit"), "3");
  EXPECT_FALSE(Exists(d_ + "/kedro"));
}

TEST_F(InstallerE2eTest, UnpackFailuresShowTheToolsExitCode) {
  WriteMedium();
  // A stand-in that tests everything fine and fails to unpack erp.rar.
  const std::string failErp =
      "#!/bin/sh\n"
      "if [ \"$1\" = t ]; then exit 0; fi\n"
      "if [ \"$3\" = erp.rar ]; then exit CODE; fi\n"
      "exit 0\n";
  for (const auto& [code, shown] :
       std::vector<std::pair<std::string, std::string>>{{"3", " 3"}, {"255", "**"}}) {
    SCOPED_TRACE(code);
    std::string script = failErp;
    script.replace(script.find("CODE"), 4, code);
    const e2e::Run run = SetupWithStandInUnrar(script, kChooseFirstAndDecline);
    EXPECT_EQ(run.status, 1) << run.Transcript();
    EXPECT_EQ(run.Messages(), std::vector<std::string>{
                                  "Eroare la dezarhivarea erp.rar (unrar retcode=" + shown + ")!"});
    EXPECT_EQ(run.Commands().back(), "unrar e -y erp.rar D:\\kedro\\ERP");
    // What was made before the failure stays.
    EXPECT_TRUE(IsDirectory(d_ + "/kedro/Bentak"));
  }
}

TEST_F(InstallerE2eTest, AMissingUnpackingToolStopsTheRun) {
  WriteMedium();
  const e2e::Run run = SetupWithStandInUnrar("", kChooseFirstAndDecline);
  EXPECT_EQ(run.status, 1) << run.Transcript();
  EXPECT_EQ(run.Messages(), std::vector<std::string>{"Nu se poate executa unrar.exe!"});
  ASSERT_EQ(run.Events("run").size(), 1u);
  EXPECT_EQ(run.Events("run")[0].Get("result"), "2");
  EXPECT_FALSE(Exists(d_ + "/kedro"));
}

TEST_F(InstallerE2eTest, AMissingOrFailingShortcutMakerDoesNotStopTheRun) {
  tools::MediumOptions none;
  none.mklnkPath = "/dev/null";  // an empty, non-executable "mklnk"
  tools::WriteMedium(medium_, none);
  e2e::Run run = Install(kChooseFirstAndDecline);
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_NE(run.Events("run").back().Get("result"), "0");
  EXPECT_EQ(run.Messages().back(), kSuccess);

  const std::string failing = scratch_.WriteFile("failing-mklnk", "#!/bin/sh\nexit 1\n", true);
  tools::MediumOptions bad;
  bad.mklnkPath = failing;
  tools::WriteMedium(medium_, bad);
  e2e::Scratch other;
  other.Drive('D');
  e2e::RunOptions o;
  o.script = kChooseFirstAndDecline;
  o.cwd = medium_;
  run = e2e::RunSetup(other, o);
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_EQ(run.Events("run").back().Get("result"), "0");
  EXPECT_EQ(run.Messages().back(), kSuccess);
}

TEST_F(InstallerE2eTest, TheDriveListLeavesOutCdromAndUnknownDrives) {
  WriteMedium();
  scratch_.Drive('C');
  scratch_.Drive('E');
  scratch_.Drive('F');
  driveTypes_ = "C=cdrom,D=unknown E=remote F=fixed";
  // A letter that is not in the list cannot be picked: the host reports the script
  // line and closes the dialog, which ends as cancelled with nothing done.
  for (const char* absent : {"C", "D", "G"}) {
    SCOPED_TRACE(absent);
    const e2e::Run run =
        Install(std::string("dialog 101\nselect 1002 ") + absent + "\nclick 1\nanswer no\n");
    EXPECT_EQ(run.status, 0) << run.Transcript();
    EXPECT_EQ(run.Events("script-error").size(), 1u) << run.Transcript();
    EXPECT_EQ(run.Events("dialog-end").at(0).Get("result"), "2");
    EXPECT_TRUE(run.Commands().empty());
  }
  // The remote drive E is offered and takes the installation.
  const e2e::Run run = Install("dialog 101\nselect 1002 E\nclick 1\nanswer no\n");
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_TRUE(run.Events("script-error").empty()) << run.Transcript();
  EXPECT_TRUE(Contains(run.Commands(), "unrar e -y erp.rar E:\\kedro\\ERP"));
  EXPECT_TRUE(IsDirectory(scratch_.path() + "/drives/E/kedro/ERP"));
  EXPECT_FALSE(Exists(d_ + "/kedro"));
  EXPECT_FALSE(Exists(scratch_.path() + "/drives/C/kedro"));

  // OK alone takes the first qualifying letter, E (C is a CD-ROM drive).
  e2e::Scratch other;
  other.Drive('C');
  other.Drive('E');
  e2e::RunOptions o;
  o.script = "dialog 101\nkey enter\nanswer no\n";
  o.cwd = medium_;
  o.driveTypes = "C=cdrom E=removable";
  const e2e::Run first = e2e::RunSetup(other, o);
  EXPECT_EQ(first.status, 0) << first.Transcript();
  EXPECT_TRUE(IsDirectory(other.path() + "/drives/E/kedro/Varmex"));
}

TEST_F(InstallerE2eTest, WithoutAnyUsableDriveOnlyCIsOffered) {
  e2e::Scratch other;
  other.Drive('D');
  e2e::RunOptions o;
  o.args = {"/prel"};
  o.driveTypes = "D=cdrom";
  o.script = "dialog 101\nselect 1002 D\nclick 1\n";
  e2e::Run run = e2e::RunSetup(other, o);
  EXPECT_EQ(run.Events("dialog-end").at(0).Get("result"), "2") << run.Transcript();
  EXPECT_EQ(run.Events("script-error").size(), 1u) << run.Transcript();

  o.script = "dialog 101\nselect 1002 C\nclick 1\nanswer no\n";
  run = e2e::RunSetup(other, o);
  EXPECT_EQ(run.status, 0) << run.Transcript();
  EXPECT_TRUE(run.Events("script-error").empty()) << run.Transcript();
  EXPECT_EQ(run.Events("dialog-end").at(0).Get("result"), "1");
  EXPECT_EQ(run.Messages().size(), 2u);  // /prel: the question at once, then success
}

TEST_F(InstallerE2eTest, OkWithTextTypedInTheComboKeepsTheDialogOpen) {
  WriteMedium();
  // After OK does nothing the script runs out: the host closes the dialog (Cancel).
  const e2e::Run run = Install("dialog 101\nset 1002 D\nclick 1\n");
  EXPECT_EQ(run.status, 0) << run.Transcript();
  ASSERT_EQ(run.Events("dialog-end").size(), 1u);
  EXPECT_EQ(run.Events("dialog-end")[0].Get("result"), "2");
  EXPECT_EQ(run.Events("script-error").size(), 1u);
  EXPECT_TRUE(run.Commands().empty());
  EXPECT_TRUE(run.Messages().empty());
  EXPECT_FALSE(Exists(d_ + "/kedro"));

  const e2e::Run cancelled = Install("dialog 101\nkey escape\n");
  EXPECT_EQ(cancelled.status, 0) << cancelled.Transcript();
  EXPECT_EQ(cancelled.Events("dialog-end").at(0).Get("result"), "2");
  EXPECT_TRUE(cancelled.Events("script-error").empty());
  EXPECT_FALSE(Exists(d_ + "/kedro"));
}

TEST_F(InstallerE2eTest, YesToTheQuestionOpensTheMigrationDialog) {
  const e2e::Run run = Install("dialog 101\nclick 1\nanswer yes\ndialog 107\nclick 2\n", {"/prel"});
  EXPECT_EQ(run.status, 0) << run.Transcript();
  const std::vector<e2e::Event> dialogs = run.Events("dialog");
  ASSERT_EQ(dialogs.size(), 2u) << run.Transcript();
  EXPECT_EQ(dialogs[1].Get("id"), "107");
  EXPECT_EQ(run.Messages().size(),
            1u);  // the question only: no success message after the migration dialog
  EXPECT_EQ(run.Events("message").at(0).Get("answer"), "yes");
  EXPECT_TRUE(run.Events("script-error").empty()) << run.Transcript();
}

TEST_F(InstallerE2eTest, DirectoryErrorsNameThePathAndTheCode) {
  WriteMedium();
  scratch_.WriteFile("drives/D/kedro/Rasvent", "a file in the way");
  e2e::Run run = Install(kChooseFirstAndDecline);
  EXPECT_EQ(run.status, 1) << run.Transcript();
  EXPECT_EQ(
      run.Messages(),
      std::vector<std::string>{
          "Nu poate fi creat directorul D:\\kedro\\Rasvent (exista un fisier cu acest nume)!"});
  EXPECT_TRUE(IsDirectory(d_ + "/kedro/Varmex"));  // made before the failure, left in place
  EXPECT_EQ(run.Commands().size(), 10u);           // only the tests ran

  // A drive that cannot be written.
  e2e::Scratch other;
  const std::string root = other.Drive('D');
  e2e::RunOptions o;
  o.script = kChooseFirstAndDecline;
  o.cwd = medium_;
  if (geteuid() == 0) {
    // Root writes anywhere; a dangling link named kedro makes the folder uncreatable.
    ASSERT_EQ(symlink("/nonexistent/varmex-e2e", (root + "/kedro").c_str()), 0);
    run = e2e::RunSetup(other, o);
    ASSERT_EQ(run.Messages().size(), 1u) << run.Transcript();
    EXPECT_EQ(run.Messages()[0].rfind("Nu poate fi creat directorul D:\\kedro (eroare ", 0), 0u)
        << run.Messages()[0];
  } else {
    std::filesystem::permissions(
        root, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    run = e2e::RunSetup(other, o);
    EXPECT_EQ(run.Messages(),
              std::vector<std::string>{"Nu poate fi creat directorul D:\\kedro (eroare     5)!"});
  }
  EXPECT_EQ(run.status, 1) << run.Transcript();
}

}  // namespace
}  // namespace varmex
