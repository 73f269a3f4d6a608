#include "installer/archives.h"

#include <cstdint>
#include <string>

#include "installer/messages.h"
#include "installer/runner.h"
#include "io/fixed_text.h"

namespace varmex::installer {
namespace {

bool IsTestMode(char mode) { return mode == 't' || mode == 'T'; }

}  // namespace

std::string BuildArchiveCommand(char mode, std::string_view archive, std::string_view destination) {
  const std::string_view a = io::PlatformText(archive);
  std::string command;
  if (IsTestMode(mode)) {
    command = "unrar t ";
    command += a;
  } else {
    command = "unrar ";
    command += mode;
    command += " -y ";
    command += a;
    command += ' ';
    command += io::PlatformText(destination);
  }
  command.push_back('\0');
  return command;
}

void CheckArchive(platform::Platform& os, char mode, std::string_view archive,
                  std::string_view destination) {
  const std::string a(io::PlatformText(archive));
  int32_t exitCode = 0;
  if (RunProgramForExitCode(os, BuildArchiveCommand(mode, archive, destination), exitCode) !=
      kRunEnded) {
    ShowError(os, "Nu se poate executa unrar.exe!");
    EndProgram(os, 1);
  }
  if (exitCode == 0) {
    return;
  }
  const std::string code = io::FormatRight(exitCode, 2);
  if (IsTestMode(mode)) {
    ShowError(os, "Arhiva " + a + " este alterata ('unrar t' retcode=" + code + ")!\n" +
                      "Pentru a continua instalarea e necesara inlocuirea acestei arhive.\n" +
                      "Puteti descarca aceasta arhiva de pe site-ul " + std::string(kSiteAddress));
  } else {
    ShowError(os, "Eroare la dezarhivarea " + a + " (unrar retcode=" + code + ")!");
  }
  EndProgram(os, 1);
}

}  // namespace varmex::installer
