// The tool steps of the migration: partner conversion, vocabulary, furnmat.dat density.
#include "migration/partner_tools.h"

#include "installer/messages.h"
#include "installer/runner.h"
#include "io/fixed_text.h"
#include "migration/transfer.h"
#include "platform/platform.h"

namespace varmex::migration {
namespace {

constexpr int kStatusLine = 1003;

// Every command line ends with a NUL right after its last piece, so that a piece's
// own trailing blank stays part of the command.
int32_t Run(platform::Platform& os, std::string command) {
  command.push_back('\0');
  return installer::RunProgram(os, command);
}

}  // namespace

std::string VarmexDirectory(char installDrive) {
  return std::string(1, installDrive) + ":\\kedro\\Varmex";
}

std::string ErpDirectory(char installDrive) {
  return std::string(1, installDrive) + ":\\kedro\\ERP";
}

void ConvertPartnerFile(platform::Platform& os, platform::DialogHost& dialog, char installDrive) {
  const std::string varmex = VarmexDirectory(installDrive);
  const std::string erp = ErpDirectory(installDrive);
  Run(os, erp + "\\convfurn " + erp + " " + varmex);
  dialog.SetItemText(kStatusLine, "Refacere TERTI.VOC");
  RebuildPartnerVocabulary(os, installDrive);
}

void RebuildPartnerVocabulary(platform::Platform& os, char installDrive) {
  const std::string erp = ErpDirectory(installDrive);
  Run(os, erp + "\\cuvterti " + erp);
  // The sort tool's command line ends with a blank: the tools read their arguments
  // exactly as the suite has always written them.
  Run(os, erp + "\\lsort " + erp + "\\cuvterti.tmp " + erp + "\\cuvterti.srt ");
  Run(os, erp + "\\fo2 -o -s 4000 -n terti.voc -d " + erp);
  Run(os, erp + "\\mkhvoc -s -d -h " + erp + " 1 " + erp + "\\cuvterti.srt terti.voc");
}

int64_t RedistributedBlockCount(int64_t blocks) {
  const int64_t doubled = 2 * blocks;
  return doubled < kFurnmatMinimumBlocks ? kFurnmatMinimumBlocks : doubled;
}

bool CheckFurnmatFile(platform::Platform& os, char installDrive) {
  const std::string varmex = VarmexDirectory(installDrive);
  const std::string furnmat = varmex + "\\furnmat.dat";
  const std::optional<uint64_t> size = os.FileSize(furnmat);
  if (!size) return true;
  const int64_t blocks = static_cast<int64_t>(*size / 512);

  std::string dens = varmex + "\\dens " + furnmat;
  dens.push_back('\0');
  // dens's answer; it stays 0 (roomy) when dens cannot be started, so the decision then
  // rests on the block count alone.
  int32_t density = 0;
  if (installer::RunProgramForExitCode(os, dens, density) == installer::kRunEnded &&
      density >= kDensUnmeasurable) {
    installer::ShowWarning(os, "Eroare la masurarea fisierului " + furnmat +
                                   " (dens retcode=" + std::to_string(density) + ")!");
  }
  if (density < kDensTooDense && blocks >= kFurnmatLargeEnough) return true;

  // The block count in its five-character field, in full when wider (a file of 50000
  // blocks or more), so that nredisp is never handed asterisks.
  std::string nredisp = varmex + "\\nredisp -o -d " +
                        io::FormatRightWhole(RedistributedBlockCount(blocks), 5) + " " + furnmat;
  nredisp.push_back('\0');
  int32_t code = 0;
  if (installer::RunProgramForExitCode(os, nredisp, code) != installer::kRunEnded || code == 0)
    return true;
  std::string text = "Eroare la redistribuirea fisierului " + furnmat +
                     " (nredisp retcode=" + std::to_string(code) + ")!";
  if (code == kNredispDiskFull) text += "\n" + std::string(kDiskFullAdvice);
  installer::ShowError(os, text);
  return code != kNredispDiskFull;
}

}  // namespace varmex::migration
