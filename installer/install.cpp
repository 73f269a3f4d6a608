#include "installer/install.h"

#include <string>
#include <string_view>

#include "installer/archives.h"
#include "installer/directories.h"
#include "installer/messages.h"
#include "installer/partition_dialog.h"
#include "installer/runner.h"
#include "io/fixed_text.h"
#include "platform/platform.h"

namespace varmex::installer {
namespace {

// Tails of the installed tree; each follows the drive letter.
constexpr std::string_view kRootTail = ":\\kedro";
constexpr std::string_view kVarmexTail = ":\\kedro\\Varmex";
constexpr std::string_view kRasventTail = ":\\kedro\\Rasvent";
constexpr std::string_view kFilegenTail = ":\\kedro\\Rasvent\\FileGen";
constexpr std::string_view kErpTail = ":\\kedro\\ERP";
constexpr std::string_view kQuovarTail = ":\\kedro\\Quovar";
constexpr std::string_view kBentakTail = ":\\kedro\\Bentak";
constexpr std::string_view kVarmexProbeTail = ":\\kedro\\Varmex\\";
constexpr std::string_view kFilegenProbeTail = ":\\kedro\\Rasvent\\FileGen\\plcont.dat";
constexpr std::string_view kErpProbeTail = ":\\kedro\\ERP\\anga.dat";
constexpr std::string_view kShortcutTail = ":\\kedro\\ERP\\";

constexpr uint32_t kClosingStyle = platform::kMbOk | platform::kMbIconExclamation;
constexpr uint32_t kQuestionStyle = platform::kMbYesNo | platform::kMbIconQuestion;
constexpr std::string_view kMigrationQuestion =
    "Daca aveti o colectie veche de Varmex (35 sau 36) se pot prelua datele in Varmex 38 ERP.\n"
    "Doriti sa transformati in mod complet automat colectia dumneavoastra de Varmex de tip 35 "
    "sau 36 intr-o colectie de date Varmex de tip 38 pe care sa puteti lucra apoi cu programele "
    "din Varmex-ul 38?";

// The path field: the drive letter, a tail, blanks to the end.
class PathField {
 public:
  explicit PathField(char drive) : drive_(drive) {}
  std::string_view Set(std::string_view tail, std::string_view name = {}) {
    std::string text;
    text.reserve(1 + tail.size() + name.size());
    text.push_back(drive_);
    text.append(tail);
    text.append(name);
    field_.Assign(text);
    return field_.view();
  }

 private:
  char drive_;
  io::FixedText<256> field_;
};

bool FileExists(platform::Platform& os, std::string_view name) {
  return os.GetFileAttributes(std::string(io::PlatformText(name))) !=
         platform::kInvalidFileAttributes;
}

// Tests a required archive, stopping the program when it is missing.
void CheckRequiredArchive(platform::Platform& os, std::string_view name) {
  if (!FileExists(os, name)) {
    ShowError(os, "Nu exista fisierul " + std::string(name) + "!");
    EndProgram(os, 1);
  }
  CheckArchive(os, 't', name, {});
}

// Tests an archive only when it is there.
void CheckOptionalArchive(platform::Platform& os, std::string_view name) {
  if (FileExists(os, name)) {
    CheckArchive(os, 't', name, {});
  }
}

void ProbePresence(platform::Platform& os, PathField& path, RunState& state) {
  state.varmexPresent = 0;
  for (std::string_view probe : {"dev.dat", "obi.dat", "devprog.exe"}) {
    if (FileExists(os, path.Set(kVarmexProbeTail, probe))) {
      state.varmexPresent = 1;
      break;
    }
  }
  state.filegenPresent = FileExists(os, path.Set(kFilegenProbeTail)) ? 1 : 0;
  state.erpDataPresent = FileExists(os, path.Set(kErpProbeTail)) ? 1 : 0;
}

// Every archive the installation will unpack is tested before anything is written.
void CheckAllArchives(platform::Platform& os, const RunState& state) {
  for (std::string_view name :
       {"varmex38.rar", "quovar.rar", "rasvent.rar", "erp.rar", "bentak.rar"}) {
    CheckRequiredArchive(os, name);
  }
  if (state.varmexPresent == 0) {
    CheckRequiredArchive(os, "varmdat.rar");
    CheckRequiredArchive(os, "bfur.rar");
  } else {
    CheckOptionalArchive(os, "bfur.rar");
  }
  CheckOptionalArchive(os, "tutorial.rar");
  if (state.filegenPresent == 0) {
    CheckRequiredArchive(os, "filegen.rar");
  }
  if (state.erpDataPresent == 0) {
    CheckRequiredArchive(os, "erpdat.rar");
  }
}

void MakeDirectoryTree(platform::Platform& os, PathField& path) {
  for (std::string_view tail :
       {kRootTail, kVarmexTail, kRasventTail, kFilegenTail, kErpTail, kQuovarTail, kBentakTail}) {
    EnsureDirectory(os, path.Set(tail));
  }
}

void UnpackArchives(platform::Platform& os, PathField& path, const RunState& state) {
  CheckArchive(os, 'e', "varmex38.rar", path.Set(kVarmexTail));
  if (state.varmexPresent == 0) {
    CheckArchive(os, 'e', "varmdat.rar", path.Set(kVarmexTail));
  }
  if (FileExists(os, "bfur.rar")) {
    CheckArchive(os, 'e', "bfur.rar", path.Set(kVarmexTail));
  } else {
    ShowWarning(os, "Lipsa bfur.rar! Nu se va actualiza banca de furnizori!");
  }
  if (FileExists(os, "tutorial.rar")) {
    CheckArchive(os, 'x', "tutorial.rar", path.Set(kVarmexTail));
  }
  CheckArchive(os, 'e', "erp.rar", path.Set(kErpTail));
  if (state.erpDataPresent == 0) {
    CheckArchive(os, 'e', "erpdat.rar", path.Set(kErpTail));
  }
  CheckArchive(os, 'e', "rasvent.rar", path.Set(kRasventTail));
  if (state.filegenPresent == 0) {
    CheckArchive(os, 'e', "filegen.rar", path.Set(kFilegenTail));
  }
  CheckArchive(os, 'e', "quovar.rar", path.Set(kQuovarTail));
  CheckArchive(os, 'e', "bentak.rar", path.Set(kBentakTail));
}

// The shortcut maker from the ERP directory; its result does not matter.
void MakeShortcut(platform::Platform& os, PathField& path) {
  const std::string e(io::TrimRight(path.Set(kShortcutTail)));
  std::string command =
      e + "mklnk.exe -lVarmex38.lnk -f" + e + "menuerp.exe -w" + e + " -i" + e + "Palunor.ico";
  command.push_back('\0');
  RunProgram(os, command);
}

[[noreturn]] void EndWithSuccess(platform::Platform& os) {
  os.MessageBox(kSuccessText, kInstallCaption, kClosingStyle);
  EndProgram(os, 0);
}

}  // namespace

void ScanSwitches(std::span<const std::string> args, RunState& state) {
  for (int i = 1; i <= kMaxScannedArguments; ++i) {
    const size_t at = static_cast<size_t>(i);
    const io::FixedText<256> argument(at < args.size() ? std::string_view(args[at])
                                                       : std::string_view());
    const std::string_view six = argument.view().substr(0, 6);
    const std::string_view seven = argument.view().substr(0, 7);
    if (six == "      ") {
      break;
    }
    if (six == "/PREL " || six == "/prel ") {
      state.migrateOnly = 1;
    } else if (seven == "/DEBUG " || seven == "/debug ") {
      state.grupdevAskFrom = 5;
      state.grupdevAskBelow = 10;
    }
  }
}

int RunInstaller(platform::Platform& os, RunState& state, std::span<const std::string> args) {
  ScanSwitches(args, state);

  // A dialog that could not be shown has had its error message and counts as cancelled:
  // nothing was changed, and the suite's callers take status 0 as "nothing to undo".
  const DriveChoice choice = ChooseInstallDrive(os);
  if (choice.failed || choice.cancelled != 0) {
    return FinishProgram(os, 0);
  }
  state.installDrive = choice.letter;

  if (state.migrateOnly == 0) {
    PathField path(state.installDrive);
    ProbePresence(os, path, state);
    CheckAllArchives(os, state);
    MakeDirectoryTree(os, path);
    UnpackArchives(os, path, state);
    MakeShortcut(os, path);
  }

  if (state.varmexPresent == 1 || state.filegenPresent == 1 || state.erpDataPresent == 1) {
    EndWithSuccess(os);
  }
  const int answer = os.MessageBox(kMigrationQuestion, kInstallCaption, kQuestionStyle);
  if (answer != platform::kIdYes) {
    EndWithSuccess(os);
  }
  StartMigrationDialog(os, state, state.installDrive,
                       {state.grupdevAskFrom, state.grupdevAskBelow});
  return FinishProgram(os, 0);
}

}  // namespace varmex::installer
