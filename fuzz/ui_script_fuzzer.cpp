// The answer script of the scripted dialog host, arbitrary text: the program's three
// dialogs and its message boxes answered by it, twice over, must each come to an end
// (the script never blocks and never hangs the program), whatever the lines say.
#include <string>

#include "fuzz/fuzz_support.h"
#include "grupdev/choice_dialog.h"
#include "installer/partition_dialog.h"
#include "migration/migration_dialog.h"
#include "platform/ui_session.h"

using namespace varmex;

namespace {

class CountingEvents : public platform::UiEvents {
 public:
  void ScriptError(std::string_view) override { ++errors; }
  int errors = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  fuzz::Scene scene;
  scene.os.driveTypes = {
      {'C', platform::kDriveFixed}, {'D', platform::kDriveFixed}, {'E', platform::kDriveCdrom}};
  CountingEvents events;
  platform::UiSession session(platform::ScriptActions(script), &events, nullptr);

  for (int round = 0; round < 2; ++round) {
    uint32_t lastError = 0;
    installer::PartitionDialog partition(scene.os);
    const intptr_t chosen = session.DialogBox(installer::kPartitionDialogId, partition, lastError);
    fuzz::Check(chosen >= 0 && chosen <= 2, "dialog 101 ended with an unknown result");

    const int answer = session.MessageBox("Preluare date?", "Instalare Varmex 38 ERP",
                                          platform::kMbYesNo | platform::kMbIconQuestion);
    fuzz::Check(answer == platform::kIdYes || answer == platform::kIdNo,
                "a question got no answer");

    migration::MigrationDialog migration(scene.os, 'D', grupdev::GrupdevLimits{});
    const intptr_t migrated =
        session.DialogBox(migration::kMigrationDialogId, migration, lastError);
    fuzz::Check(migrated >= 0 && migrated <= 2, "dialog 107 ended with an unknown result");

    grupdev::InvestmentInfo investment;
    investment.number = 7;
    grupdev::ChoiceState state;
    grupdev::GrupdevChoiceProcedure choice(investment, state);
    const intptr_t decided = session.DialogBox(grupdev::kChoiceDialogId, choice, lastError);
    fuzz::Check(decided >= 0 && decided <= 2, "dialog 102 ended with an unknown result");

    fuzz::Check(session.MessageBox("Instalare cu succes!", "Instalare Varmex 38 ERP",
                                   platform::kMbOk) == platform::kIdOk,
                "an OK box got another answer");
  }
  return 0;
}
