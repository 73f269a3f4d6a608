#include "platform/simulated_dialog.h"

#include <cctype>

namespace varmex::platform {
namespace {

using resources::ControlKind;

bool IsButton(ControlKind k) {
  return k == ControlKind::kPushButton || k == ControlKind::kDefPushButton ||
         k == ControlKind::kAutoRadioButton || k == ControlKind::kAutoCheckBox;
}

// Case-insensitive order of two list items, as a sorted combo box compares them.
bool LessIgnoringCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && !LessIgnoringCase(a, b) && !LessIgnoringCase(b, a);
}

}  // namespace

SimulatedDialog::SimulatedDialog(const resources::DialogDescription& description)
    : description_(description) {
  size_t group = 0;
  for (const resources::ControlDescription& c : description.Controls()) {
    if (controls_.empty() || (c.style & resources::kStyleGroup) != 0) group = controls_.size();
    Control control;
    control.description = &c;
    control.text = std::string(c.text);
    control.group = group;
    controls_.push_back(std::move(control));
  }
}

SimulatedDialog::Control* SimulatedDialog::Find(int id) {
  if (id == resources::kNoControlId) return nullptr;
  for (Control& c : controls_) {
    if (c.description->id == id) return &c;
  }
  return nullptr;
}

void SimulatedDialog::SetItemText(int id, std::string_view text) {
  if (Control* c = Find(id)) c->text = std::string(text);
}

std::string SimulatedDialog::GetItemText(int id, size_t maxChars) {
  const Control* c = Find(id);
  if (c == nullptr) return std::string();
  return c->text.substr(0, maxChars);
}

void SimulatedDialog::EnableItem(int id, bool enabled) {
  if (Control* c = Find(id)) c->enabled = enabled;
}

void SimulatedDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
  for (Control& c : controls_) {
    const int id = c.description->id;
    if (id >= firstId && id <= lastId && IsButton(c.description->kind)) c.checked = (id == checkId);
  }
}

bool SimulatedDialog::IsButtonChecked(int id) {
  const Control* c = Find(id);
  return c != nullptr && c->checked;
}

void SimulatedDialog::ComboReset(int id) {
  Control* c = Find(id);
  if (c == nullptr || c->description->kind != ControlKind::kComboBox) return;
  c->items.clear();
  c->selection = -1;
  c->text.clear();
}

void SimulatedDialog::ComboAddString(int id, std::string_view text) {
  Control* c = Find(id);
  if (c == nullptr || c->description->kind != ControlKind::kComboBox) return;
  size_t at = c->items.size();
  if ((c->description->style & resources::kStyleComboSort) != 0) {
    at = 0;
    while (at < c->items.size() && !LessIgnoringCase(text, c->items[at])) ++at;
  }
  c->items.insert(c->items.begin() + static_cast<ptrdiff_t>(at), std::string(text));
  // The selected item stays selected when an item is inserted before it.
  if (c->selection >= 0 && static_cast<size_t>(c->selection) >= at) ++c->selection;
}

void SimulatedDialog::ComboSetSelection(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr || c->description->kind != ControlKind::kComboBox) return;
  if (index < 0 || static_cast<size_t>(index) >= c->items.size()) {
    // As on Windows: an index outside the list removes the selection.
    c->selection = -1;
    c->text.clear();
    return;
  }
  c->selection = index;
  c->text = c->items[static_cast<size_t>(index)];
}

int SimulatedDialog::ComboGetSelection(int id) {
  const Control* c = Find(id);
  return c == nullptr ? -1 : c->selection;
}

void SimulatedDialog::EndDialog(intptr_t result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
}

SimulatedDialog::Outcome SimulatedDialog::Click(int id) {
  Control* c = Find(id);
  if (c == nullptr) return {std::nullopt, "no control " + std::to_string(id)};
  const ControlKind kind = c->description->kind;
  if (!IsButton(kind)) {
    return {std::nullopt, "control " + std::to_string(id) + " is a " +
                              std::string(resources::KindName(kind)) + ", not a button"};
  }
  if (!c->enabled) return {};  // a click on a disabled control does nothing
  if (kind == ControlKind::kAutoRadioButton) {
    for (Control& other : controls_) {
      if (other.group == c->group && other.description->kind == ControlKind::kAutoRadioButton) {
        other.checked = false;
      }
    }
    c->checked = true;
  } else if (kind == ControlKind::kAutoCheckBox) {
    c->checked = !c->checked;
  }
  return {Command{id, kBnClicked}, ""};
}

SimulatedDialog::Outcome SimulatedDialog::Type(int id, std::string_view text) {
  Control* c = Find(id);
  if (c == nullptr) return {std::nullopt, "no control " + std::to_string(id)};
  const ControlKind kind = c->description->kind;
  if (kind != ControlKind::kEdit && kind != ControlKind::kComboBox) {
    return {std::nullopt, "control " + std::to_string(id) + " is a " +
                              std::string(resources::KindName(kind)) + ", not an edit field"};
  }
  if (!c->enabled) return {};
  c->text = std::string(text);
  if (kind == ControlKind::kEdit) return {Command{id, kEnChange}, ""};
  c->selection = -1;
  return {Command{id, kCbnEditChange}, ""};
}

SimulatedDialog::Outcome SimulatedDialog::Pick(int id, std::string_view itemText) {
  Control* c = Find(id);
  if (c == nullptr) return {std::nullopt, "no control " + std::to_string(id)};
  if (c->description->kind != ControlKind::kComboBox) {
    return {std::nullopt, "control " + std::to_string(id) + " is not a combo box"};
  }
  if (!c->enabled) return {};
  // The item written exactly, else the first one equal without regard to case.
  int found = -1;
  for (size_t i = 0; i < c->items.size() && found < 0; ++i) {
    if (c->items[i] == itemText) found = static_cast<int>(i);
  }
  for (size_t i = 0; i < c->items.size() && found < 0; ++i) {
    if (EqualIgnoringCase(c->items[i], itemText)) found = static_cast<int>(i);
  }
  if (found < 0) {
    return {std::nullopt,
            "combo box " + std::to_string(id) + " has no item \"" + std::string(itemText) + "\""};
  }
  c->selection = found;
  c->text = c->items[static_cast<size_t>(found)];
  return {Command{id, kCbnSelChange}, ""};
}

SimulatedDialog::Outcome SimulatedDialog::Key(int command) {
  const Control* button = Find(command);
  if (button != nullptr && !button->enabled) return {};
  return {Command{command, kBnClicked}, ""};
}

}  // namespace varmex::platform
