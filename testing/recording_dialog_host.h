// The dialog host that unit tests hand to dialog procedures: it keeps what a real
// dialog would show (item texts, enabled states, radio and check box states, combo
// lists and selections), records every text set in order, and remembers how the
// dialog ended. A test reads and changes the public fields to play the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace varmex::doubles {

class RecordingDialogHost : public platform::DialogHost {
 public:
  void SetItemText(int id, std::string_view text) override {
    texts[id] = std::string(text);
    setTexts.emplace_back(id, std::string(text));
  }
  std::string GetItemText(int id, size_t maxChars) override {
    return texts[id].substr(0, maxChars);
  }
  void EnableItem(int id, bool enabled) override { disabled[id] = !enabled; }
  void CheckRadioButton(int firstId, int lastId, int checkId) override {
    for (int i = firstId; i <= lastId; ++i) checked[i] = i == checkId;
  }
  bool IsButtonChecked(int id) override { return checked[id]; }
  void ComboReset(int id) override {
    comboItems[id].clear();
    comboSelection[id] = -1;
  }
  void ComboAddString(int id, std::string_view text) override { comboItems[id].emplace_back(text); }
  void ComboSetSelection(int id, int index) override { comboSelection[id] = index; }
  int ComboGetSelection(int id) override {
    const auto it = comboSelection.find(id);
    return it == comboSelection.end() ? -1 : it->second;
  }
  void EndDialog(intptr_t r) override { result = r; }

  // The texts written to one control, in the order they were written.
  std::vector<std::string> TextsOf(int id) const {
    std::vector<std::string> out;
    for (const auto& [control, text] : setTexts) {
      if (control == id) out.push_back(text);
    }
    return out;
  }

  std::map<int, std::string> texts;                    // current text of each item
  std::vector<std::pair<int, std::string>> setTexts;   // every SetItemText, in order
  std::map<int, bool> disabled;                        // items enabled or disabled so far
  std::map<int, bool> checked;                         // radio buttons and check boxes
  std::map<int, std::vector<std::string>> comboItems;  // list of each combo box
  std::map<int, int> comboSelection;                   // selected index, -1 for none
  std::optional<intptr_t> result;                      // the value given to EndDialog
};

}  // namespace varmex::doubles
