#include "installer/install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/partition_dialog.h"
#include "migration/migration_dialog.h"
#include "platform/fake_platform.h"
#include "testing/first_install_commands.h"
#include "testing/recording_dialog_host.h"

namespace varmex::installer {
namespace {

using platform::FakePlatform;
using platform::ProcessResult;

RunState Scan(std::vector<std::string> args) {
  args.insert(args.begin(), "varmex-setup");
  RunState state;
  ScanSwitches(args, state);
  return state;
}

TEST(ScanSwitchesTest, OnlyTheFourSpellingsCount) {
  RunState none = Scan({});
  EXPECT_EQ(none.migrateOnly, 0);
  EXPECT_EQ(none.grupdevAskFrom, 100);
  EXPECT_EQ(none.grupdevAskBelow, 1000);

  RunState both = Scan({"/PREL", "/DEBUG"});
  EXPECT_EQ(both.migrateOnly, 1);
  EXPECT_EQ(both.grupdevAskFrom, 5);
  EXPECT_EQ(both.grupdevAskBelow, 10);
  EXPECT_EQ(Scan({"/debug", "/prel"}).migrateOnly, 1);

  RunState ignored = Scan({"/Prel", "/Debug", "/prelx", "/debug2", "prel", "-debug"});
  EXPECT_EQ(ignored.migrateOnly, 0);
  EXPECT_EQ(ignored.grupdevAskFrom, 100);
}

TEST(ScanSwitchesTest, ABlankArgumentEndsTheScanAndOnlyTenAreSeen) {
  EXPECT_EQ(Scan({"", "/prel"}).migrateOnly, 0);
  EXPECT_EQ(Scan({"x", "      ", "/prel"}).migrateOnly, 0);
  EXPECT_EQ(Scan({"x", "   y", "/prel"}).migrateOnly, 1);  // not six blanks: scan goes on
  std::vector<std::string> ten(9, "x");
  ten.push_back("/prel");
  EXPECT_EQ(Scan(ten).migrateOnly, 1);
  std::vector<std::string> eleven(10, "x");
  eleven.push_back("/prel");
  EXPECT_EQ(Scan(eleven).migrateOnly, 0);
}

// A fake machine with drive D, the medium in the current directory and an unpacking
// tool that accepts everything. The partition dialog picks the first letter.
class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.driveTypes = {{'D', platform::kDriveFixed}};
    for (const char* name :
         {"varmex38.rar", "quovar.rar", "rasvent.rar", "erp.rar", "bentak.rar", "varmdat.rar",
          "bfur.rar", "tutorial.rar", "filegen.rar", "erpdat.rar"}) {
      fake_.AddFile(name, {'R'});
    }
    fake_.runProcess = [](const FakePlatform::Run&) { return ProcessResult{0, 0u}; };
    fake_.runDialog = [this](int id, platform::DialogProcedure& proc) -> intptr_t {
      dialogs_.push_back(id);
      if (id != kPartitionDialogId) return 2;
      Host host;
      proc.OnInit(host);
      proc.OnCommand(host, kOkButtonId, 0);
      return host.result.value_or(0);
    };
  }

  // Runs the installer; the exit status, whether by return or by a stop.
  int Run(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "varmex-setup");
    try {
      state_ = RunState{};  // each run starts from its own state
      return RunInstaller(fake_, state_, args);
    } catch (const FakePlatform::ExitCalled& e) {
      return e.status;
    }
  }

  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const auto& r : fake_.runs) out.push_back(r.commandLine);
    return out;
  }

  using Host = doubles::RecordingDialogHost;

  FakePlatform fake_;
  RunState state_;  // the state of the last run
  std::vector<int> dialogs_;
};

TEST_F(InstallTest, AFirstInstallationTestsEverythingThenBuildsAndUnpacksInOrder) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Commands(), varmex::doubles::FirstInstallCommandsOnD());
  EXPECT_FALSE(fake_.runs.back().wantExitCode);
  for (const char* dir :
       {"D:\\kedro", "D:\\kedro\\Varmex", "D:\\kedro\\Rasvent", "D:\\kedro\\Rasvent\\FileGen",
        "D:\\kedro\\ERP", "D:\\kedro\\Quovar", "D:\\kedro\\Bentak"}) {
    EXPECT_EQ(fake_.GetFileAttributes(dir), platform::kAttributeDirectory) << dir;
  }
  ASSERT_EQ(fake_.messages.size(), 2u);  // the question (answered No), then success
  EXPECT_EQ(fake_.messages[0].style, 0x24u);
  EXPECT_EQ(fake_.messages[0].caption, "Instalare Varmex 38 ERP");
  EXPECT_EQ(fake_.messages[0].text.find(
                "Daca aveti o colectie veche de Varmex (35 sau 36) se pot prelua datele "
                "in Varmex 38 ERP.\nDoriti sa transformati"),
            0u);
  EXPECT_EQ(fake_.messages[1].text, "Instalare cu succes!");
  EXPECT_EQ(fake_.messages[1].style, 0x30u);
  EXPECT_EQ(dialogs_, std::vector<int>{kPartitionDialogId});
  EXPECT_EQ(state_.installDrive, 'D');
}

TEST_F(InstallTest, AnUpdateSkipsTheVarmexDataAndOnlyWarnsAboutTheSupplierBank) {
  fake_.AddDirectory("D:\\kedro");
  fake_.AddDirectory("D:\\kedro\\Varmex");
  fake_.AddFile("D:\\kedro\\Varmex\\DEVPROG.EXE", {'x'});
  fake_.DeleteFile("bfur.rar");
  fake_.DeleteFile("varmdat.rar");
  EXPECT_EQ(Run({"/debug"}), 0);
  const std::vector<std::string> commands = Commands();
  for (const std::string& c : commands) {
    EXPECT_EQ(c.find("varmdat"), std::string::npos) << c;
    EXPECT_EQ(c.find("bfur"), std::string::npos) << c;
  }
  ASSERT_EQ(fake_.messages.size(), 2u);
  EXPECT_EQ(fake_.messages[0].text, "Lipsa bfur.rar! Nu se va actualiza banca de furnizori!");
  EXPECT_EQ(fake_.messages[0].caption, "Atentie");
  EXPECT_EQ(fake_.messages[1].text, "Instalare cu succes!");  // no migration question
  EXPECT_EQ(state_.varmexPresent, 1);
  EXPECT_EQ(state_.grupdevAskFrom, 5);
}

TEST_F(InstallTest, AMissingOrDamagedArchiveStopsBeforeAnyDirectory) {
  fake_.DeleteFile("erpdat.rar");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Commands().size(), 9u);  // the nine other archives were tested first
  EXPECT_EQ(fake_.messages.at(0).text, "Nu exista fisierul erpdat.rar!");
  EXPECT_FALSE(fake_.Exists("D:\\kedro"));

  fake_.AddFile("erpdat.rar", {'R'});
  fake_.messages.clear();
  fake_.runs.clear();
  fake_.runProcess = [](const FakePlatform::Run& r) {
    return ProcessResult{0, r.commandLine == "unrar t quovar.rar" ? 3u : 0u};
  };
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Commands().size(), 2u);
  EXPECT_EQ(
      fake_.messages.at(0).text.find("Arhiva quovar.rar este alterata ('unrar t' retcode= 3)!\n"),
      0u);
  EXPECT_FALSE(fake_.Exists("D:\\kedro"));
}

TEST_F(InstallTest, MigrateOnlyAsksAtOnceAndYesOpensTheMigrationDialog) {
  fake_.answerMessage = [](const FakePlatform::Message& m) {
    return (m.style & platform::kMbYesNo) ? platform::kIdYes : platform::kIdOk;
  };
  std::vector<grupdev::GrupdevLimits> handed;  // what dialog 107 was given
  fake_.runDialog = [&handed, partition = fake_.runDialog](
                        int id, platform::DialogProcedure& proc) -> intptr_t {
    if (const auto* migration = dynamic_cast<migration::MigrationDialog*>(&proc))
      handed.push_back(migration->limits());
    return partition(id, proc);
  };
  fake_.DeleteFile("varmex38.rar");  // no archive is looked at
  EXPECT_EQ(Run({"/PREL"}), 0);
  EXPECT_TRUE(fake_.runs.empty());
  EXPECT_FALSE(fake_.Exists("D:\\kedro"));
  ASSERT_EQ(fake_.messages.size(), 1u);  // the question only
  EXPECT_EQ(fake_.messages[0].style, 0x24u);
  EXPECT_EQ(dialogs_, (std::vector<int>{kPartitionDialogId, 107}));
  EXPECT_EQ(state_.installDrive, 'D');
  EXPECT_EQ(state_.migrateOnly, 1);

  // The GRUPDEV ask limits reach the migration: 100 and 1000, 5 and 10 with "/debug".
  EXPECT_EQ(Run({"/prel", "/debug"}), 0);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[0].askFrom, 100);
  EXPECT_EQ(handed[0].askBelow, 1000);
  EXPECT_EQ(handed[1].askFrom, 5);
  EXPECT_EQ(handed[1].askBelow, 10);
}

TEST_F(InstallTest, ADialogThatCannotBeShownEndsAsCancelled) {
  fake_.runDialog = nullptr;  // every dialog fails to open (1813)
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake_.messages.at(0).text, "Eroare ( 1813) in DialogBox (instalare 1)!");
  EXPECT_TRUE(fake_.runs.empty());

  // The migration dialog: the question was answered Yes, but no migration ran.
  fake_.messages.clear();
  fake_.runDialog = [](int id, platform::DialogProcedure& proc) -> intptr_t {
    if (id != kPartitionDialogId) return -1;
    Host host;
    proc.OnInit(host);
    proc.OnCommand(host, kOkButtonId, 0);
    return host.result.value_or(0);
  };
  fake_.answerMessage = [](const FakePlatform::Message& m) {
    return (m.style & platform::kMbYesNo) ? platform::kIdYes : platform::kIdOk;
  };
  fake_.lastError = 1400;
  EXPECT_EQ(Run({"/prel"}), 0);
  EXPECT_EQ(fake_.messages.back().text, "Eroare ( 1400) in DialogBox (instalare 2)!");
}

}  // namespace
}  // namespace varmex::installer
