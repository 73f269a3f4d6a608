// A dialog host for unit tests: keeps item texts, enabled states and radio checks,
// and records every status text and the end of the dialog.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace varmex::migration {

class TestDialogHost : public platform::DialogHost {
 public:
  void SetItemText(int id, std::string_view text) override {
    texts[id] = std::string(text);
    setTexts.push_back({id, std::string(text)});
  }
  std::string GetItemText(int id, size_t maxChars) override {
    return texts[id].substr(0, maxChars);
  }
  void EnableItem(int id, bool enabled) override { disabled[id] = !enabled; }
  void CheckRadioButton(int firstId, int lastId, int checkId) override {
    for (int i = firstId; i <= lastId; ++i) checked[i] = i == checkId;
  }
  bool IsButtonChecked(int id) override { return checked[id]; }
  void ComboReset(int) override {}
  void ComboAddString(int, std::string_view) override {}
  void ComboSetSelection(int, int) override {}
  int ComboGetSelection(int) override { return -1; }
  void EndDialog(intptr_t result) override { endResult = result; }

  // The texts written to one control, in order.
  std::vector<std::string> TextsOf(int id) const {
    std::vector<std::string> out;
    for (const auto& [control, text] : setTexts) {
      if (control == id) out.push_back(text);
    }
    return out;
  }

  std::map<int, std::string> texts;
  std::vector<std::pair<int, std::string>> setTexts;
  std::map<int, bool> disabled;
  std::map<int, bool> checked;
  intptr_t endResult = -1;
};

}  // namespace varmex::migration
