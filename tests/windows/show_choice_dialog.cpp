// Opens the GRUPDEV choice dialog (102) with the real dialog procedure for a sample
// investment, so the GUI test can see and drive it without a whole migration.
// Exit status: 10 * dialog result + answer, plus 100 when the answer is remembered.
#include <string>

#include "grupdev/choice_dialog.h"
#include "platform/platform.h"

int main() {
  varmex::grupdev::InvestmentInfo investment;
  investment.number = 12;
  investment.code = 345;
  investment.name = "SCOALA";
  investment.name.resize(30, ' ');
  varmex::grupdev::ChoiceState state;
  // The program's one fetch of the platform: the native one, handed to the dialog.
  const intptr_t result =
      varmex::grupdev::GrupdevChoiceDialog(varmex::platform::Current(), investment, state);
  const int remembered = state.grupdevSameAnswer != varmex::grupdev::kNoRememberedAnswer ? 100 : 0;
  return static_cast<int>(result) * 10 + state.grupdevAnswer + remembered;
}
