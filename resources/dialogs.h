// The dialog descriptions as C++ tables, read from dialogs.def: what the scripted and
// terminal hosts build their simulated dialogs from. The Windows resource script is
// generated from the same file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace varmex::resources {

enum class ControlKind {
  kPushButton,
  kDefPushButton,
  kAutoRadioButton,
  kAutoCheckBox,
  kEdit,
  kComboBox,
  kStaticLeft,
  kStaticCentered,
  kGroupBox,
};

inline constexpr int kNoControlId = -1;

// Style bits, the values of the Windows API (see dialog_styles.h).
inline constexpr uint32_t kStyleGroup = 0x00020000;
inline constexpr uint32_t kStyleTabStop = 0x00010000;
inline constexpr uint32_t kStyleComboSort = 0x00000100;

struct ControlDescription {
  int id;
  ControlKind kind;
  std::string_view text;
  int x, y, width, height;
  uint32_t style;
};

struct DialogDescription {
  int id;
  int x, y, width, height;
  uint32_t style;
  std::string_view caption;
  int fontSize;
  std::string_view fontName;
  size_t firstControl;  // index into the controls of all dialogs
  size_t controlCount;

  std::span<const ControlDescription> Controls() const;
};

std::span<const DialogDescription> AllDialogs();

// The description of dialog resource `id`, or null when there is none.
const DialogDescription* FindDialog(int id);

std::string_view KindName(ControlKind kind);

}  // namespace varmex::resources
