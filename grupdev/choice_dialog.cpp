// Dialog 102: the question text and the answers (declared in choice_dialog.h).
#include "grupdev/choice_dialog.h"

#include "io/fixed_text.h"

namespace varmex::grupdev {
namespace {

constexpr const char* kAdvice =
    "contine peste 100 devize. In aceasta situatie se recomanda sa se genereze cate un "
    "GRUPDEV pentru fiecare obiect al investitiei.";

bool FirstSixBlank(std::string_view name) {
  for (size_t i = 0; i < 6; ++i) {
    if (i < name.size() && name[i] != ' ') return false;
  }
  return true;
}

}  // namespace

std::string ChoiceText(const InvestmentInfo& investment) {
  io::FixedText<300> text;
  text.Put(0, "Atentie: Investitia " + io::FormatLeftMoved(investment.number, 4));
  const std::string code = io::FormatLeftMoved(investment.code, 10);
  if (!FirstSixBlank(investment.name)) {
    const std::string_view name = io::TrimRight(investment.name);
    text.Put(text.trimmed_length() + 1, "(" + code + " - " + std::string(name) + ")");
  } else if (investment.code != 0) {
    text.Put(text.trimmed_length() + 1, "(" + code + ")");
  }
  text.Put(text.trimmed_length() + 1, kAdvice);
  return std::string(io::PlatformText(text.view()));
}

bool GrupdevChoiceProcedure::OnInit(platform::DialogHost& host) {
  host.SetItemText(kChoiceTextId, ChoiceText(investment_));
  return true;
}

void GrupdevChoiceProcedure::Answer(platform::DialogHost& host, int16_t answer) {
  state_.grupdevAnswer = answer;
  if (host.IsButtonChecked(kSameAnswerBoxId)) state_.grupdevSameAnswer = answer;
  host.EndDialog(1);
}

bool GrupdevChoiceProcedure::OnCommand(platform::DialogHost& host, int id, int /*notification*/) {
  switch (id) {
    case kPerObjectButtonId:
      Answer(host, kAnswerPerObject);
      return true;
    case kWholeInvestmentButtonId:
      Answer(host, kAnswerWholeInvestment);
      return true;
    case platform::kIdOk:
    case platform::kIdCancel:
      // Enter and Escape do not close the dialog: only the two buttons answer.
      return true;
    default:
      return false;
  }
}

intptr_t GrupdevChoiceDialog(platform::Platform& os, const InvestmentInfo& investment,
                             ChoiceState& state) {
  GrupdevChoiceProcedure procedure(investment, state);
  return os.DialogBox(kChoiceDialogId, procedure);
}

}  // namespace varmex::grupdev
