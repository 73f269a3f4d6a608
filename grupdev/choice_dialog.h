// Dialog 102: for an investment with many estimates, one GRUPDEV per object or one for
// the whole investment, and whether that answer holds for the rest of the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace varmex::grupdev {

inline constexpr int kChoiceDialogId = 102;
inline constexpr int kChoiceTextId = 1010;
inline constexpr int kSameAnswerBoxId = 1009;
inline constexpr int kPerObjectButtonId = 1007;
inline constexpr int kWholeInvestmentButtonId = 1008;

// grupdevAnswer values.
enum GrupdevAnswer : int16_t {
  kAnswerWholeInvestment = 0,
  kAnswerPerObject = 1,
};
inline constexpr int16_t kNoRememberedAnswer = -1;

// What the dialog shows about the investment.
struct InvestmentInfo {
  int16_t number = 0;
  int32_t code = 0;
  std::string name = std::string(30, ' ');  // 30 characters, blank-padded
};

// The answers shared between the dialog and the driver.
struct ChoiceState {
  int16_t grupdevAnswer = kAnswerWholeInvestment;
  int16_t grupdevSameAnswer = kNoRememberedAnswer;
};

// The text of control 1010, as handed to the platform.
std::string ChoiceText(const InvestmentInfo& investment);

class GrupdevChoiceProcedure : public platform::DialogProcedure {
 public:
  GrupdevChoiceProcedure(const InvestmentInfo& investment, ChoiceState& state)
      : investment_(investment), state_(state) {}
  bool OnInit(platform::DialogHost& host) override;
  bool OnCommand(platform::DialogHost& host, int id, int notification) override;

 private:
  void Answer(platform::DialogHost& host, int16_t answer);

  const InvestmentInfo& investment_;
  ChoiceState& state_;
};

// Runs dialog 102 modally for the investment; gives the dialog's result (1 when it was
// closed by one of its two buttons).
intptr_t GrupdevChoiceDialog(platform::Platform& os, const InvestmentInfo& investment,
                             ChoiceState& state);

}  // namespace varmex::grupdev
