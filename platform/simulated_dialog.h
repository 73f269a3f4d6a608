// A dialog simulated from its description: the controls' texts, enable states, check
// states and combo lists, changed by the dialog procedure through DialogHost and by
// the user's actions (clicks, typing, picking). The scripted and terminal hosts run
// dialogs on it.
//
// A sorted combo box keeps its list sorted as Windows does (CB_ADDSTRING inserts an
// item at its place, comparing without regard to case); an unsorted one appends.
// The dialog procedure's own tables follow the order in which it added items, so it
// meets the same indexes as on Windows only when it adds them in sorted order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "resources/dialogs.h"

namespace varmex::platform {

// Notification codes sent with the user's changes (values of the Windows API).
inline constexpr int kEnChange = 0x0300;
inline constexpr int kCbnSelChange = 1;
inline constexpr int kCbnEditChange = 5;

class SimulatedDialog : public DialogHost {
 public:
  struct Control {
    const resources::ControlDescription* description;
    std::string text;
    bool enabled = true;
    bool checked = false;
    std::vector<std::string> items;  // combo list
    int selection = -1;
    size_t group = 0;  // index of the control that starts its group
  };

  explicit SimulatedDialog(const resources::DialogDescription& description);

  // DialogHost
  void SetItemText(int id, std::string_view text) override;
  std::string GetItemText(int id, size_t maxChars) override;
  void EnableItem(int id, bool enabled) override;
  void CheckRadioButton(int firstId, int lastId, int checkId) override;
  bool IsButtonChecked(int id) override;
  void ComboReset(int id) override;
  void ComboAddString(int id, std::string_view text) override;
  void ComboSetSelection(int id, int index) override;
  int ComboGetSelection(int id) override;
  void EndDialog(intptr_t result) override;

  const resources::DialogDescription& description() const { return description_; }
  const std::vector<Control>& controls() const { return controls_; }
  Control* Find(int id);
  bool ended() const { return ended_; }
  intptr_t result() const { return result_; }

  // The user's actions. Each returns the command to send to the dialog procedure
  // (control id and notification), if any; a problem that makes the action impossible
  // is described in `problem`.
  struct Command {
    int id;
    int notification;
  };
  struct Outcome {
    std::optional<Command> command;
    std::string problem;  // empty when the action fitted the dialog
  };
  Outcome Click(int id);
  Outcome Type(int id, std::string_view text);
  Outcome Pick(int id, std::string_view itemText);
  // Enter and Esc: the command of the OK or Cancel button, unless that button is
  // present and disabled.
  Outcome Key(int command);

 private:
  const resources::DialogDescription& description_;
  std::vector<Control> controls_;
  bool ended_ = false;
  intptr_t result_ = 0;
};

}  // namespace varmex::platform
