// Dialog 102: the text of its question and the answers its buttons give.
#include "grupdev/choice_dialog.h"

#include <gtest/gtest.h>

#include "testing/recording_dialog_host.h"

namespace varmex::grupdev {
namespace {

constexpr const char* kAdvice =
    "contine peste 100 devize. In aceasta situatie se recomanda sa se genereze cate un GRUPDEV "
    "pentru "
    "fiecare obiect al investitiei.";

InvestmentInfo Investment(int16_t number, int32_t code, std::string name) {
  InvestmentInfo info;
  info.number = number;
  info.code = code;
  name.resize(30, ' ');
  info.name = name;
  return info;
}

TEST(ChoiceText, NameAndCode) {
  EXPECT_EQ(ChoiceText(Investment(12, 345, "SCOALA")),
            std::string("Atentie: Investitia 12 (345        - SCOALA) ") + kAdvice);
}

TEST(ChoiceText, MissingRecordGoesStraightToTheSentence) {
  EXPECT_EQ(ChoiceText(Investment(12, 0, "")), std::string("Atentie: Investitia 12 ") + kAdvice);
}

TEST(ChoiceText, BlankNameWithCodeHasNoDash) {
  EXPECT_EQ(ChoiceText(Investment(7, 2024, "")),
            std::string("Atentie: Investitia 7 (2024      ) ") + kAdvice);
  // A name whose first six characters are blank counts as blank.
  EXPECT_EQ(ChoiceText(Investment(7, 2024, "      Bloc A")),
            std::string("Atentie: Investitia 7 (2024      ) ") + kAdvice);
}

TEST(ChoiceText, NumbersThatDoNotFitTheirFields) {
  // Four characters for the investment, ten for the code: asterisks otherwise.
  EXPECT_EQ(ChoiceText(Investment(12345, -2147483647 - 1, "X")),
            std::string("Atentie: Investitia **** (********** - X) ") + kAdvice);
  EXPECT_EQ(ChoiceText(Investment(-5, 0, "")), std::string("Atentie: Investitia -5 ") + kAdvice);
}

TEST(ChoiceDialog, InitSetsTheTextOfControl1010) {
  const InvestmentInfo info = Investment(3, 0, "Pod");
  ChoiceState state;
  GrupdevChoiceProcedure proc(info, state);
  doubles::RecordingDialogHost host;
  EXPECT_TRUE(proc.OnInit(host));
  EXPECT_EQ(host.texts[1010], std::string("Atentie: Investitia 3 (0          - Pod) ") + kAdvice);
}

TEST(ChoiceDialog, EnterAndEscapeNeitherCloseNorAnswer) {
  const InvestmentInfo info = Investment(3, 0, "");
  ChoiceState state;
  state.grupdevAnswer = 1;
  GrupdevChoiceProcedure proc(info, state);
  doubles::RecordingDialogHost host;
  host.checked[1009] = true;
  EXPECT_TRUE(proc.OnCommand(host, 1, 0));
  EXPECT_TRUE(proc.OnCommand(host, 2, 0));
  EXPECT_FALSE(proc.OnCommand(host, 1009, 0));
  EXPECT_FALSE(host.result.has_value());
  EXPECT_EQ(state.grupdevAnswer, 1);
  EXPECT_EQ(state.grupdevSameAnswer, kNoRememberedAnswer);
}

TEST(ChoiceDialog, ButtonsAnswerAndRememberOnlyWhenTicked) {
  const InvestmentInfo info = Investment(3, 0, "");
  {
    ChoiceState state;
    GrupdevChoiceProcedure proc(info, state);
    doubles::RecordingDialogHost host;
    EXPECT_TRUE(proc.OnCommand(host, 1007, 0));
    EXPECT_EQ(host.result, 1);
    EXPECT_EQ(state.grupdevAnswer, kAnswerPerObject);
    EXPECT_EQ(state.grupdevSameAnswer, kNoRememberedAnswer);
  }
  {
    ChoiceState state;
    state.grupdevAnswer = kAnswerPerObject;
    GrupdevChoiceProcedure proc(info, state);
    doubles::RecordingDialogHost host;
    host.checked[1009] = true;
    EXPECT_TRUE(proc.OnCommand(host, 1008, 0));
    EXPECT_EQ(host.result, 1);
    EXPECT_EQ(state.grupdevAnswer, kAnswerWholeInvestment);
    EXPECT_EQ(state.grupdevSameAnswer, kAnswerWholeInvestment);
  }
}

}  // namespace
}  // namespace varmex::grupdev
