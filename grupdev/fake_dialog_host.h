// A dialog host double for tests: remembers texts, check boxes and the end result.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace varmex::grupdev {

class FakeDialogHost : public platform::DialogHost {
 public:
  void SetItemText(int id, std::string_view text) override { texts[id] = std::string(text); }
  std::string GetItemText(int id, size_t maxChars) override {
    return texts[id].substr(0, maxChars);
  }
  void EnableItem(int, bool) override {}
  void CheckRadioButton(int, int, int) override {}
  bool IsButtonChecked(int id) override { return checked[id]; }
  void ComboReset(int) override {}
  void ComboAddString(int, std::string_view) override {}
  void ComboSetSelection(int, int) override {}
  int ComboGetSelection(int) override { return -1; }
  void EndDialog(intptr_t r) override { result = r; }

  std::map<int, std::string> texts;
  std::map<int, bool> checked;
  std::optional<intptr_t> result;
};

}  // namespace varmex::grupdev
