#include "resources/dialogs.h"

#include "resources/dialog_styles.h"

namespace varmex::resources {
namespace {

#define VARMEX_KIND_PUSHBUTTON ControlKind::kPushButton
#define VARMEX_KIND_DEFPUSHBUTTON ControlKind::kDefPushButton
#define VARMEX_KIND_AUTORADIOBUTTON ControlKind::kAutoRadioButton
#define VARMEX_KIND_AUTOCHECKBOX ControlKind::kAutoCheckBox
#define VARMEX_KIND_EDITTEXT ControlKind::kEdit
#define VARMEX_KIND_COMBOBOX ControlKind::kComboBox
#define VARMEX_KIND_LTEXT ControlKind::kStaticLeft
#define VARMEX_KIND_CTEXT ControlKind::kStaticCentered
#define VARMEX_KIND_GROUPBOX ControlKind::kGroupBox

// Every control of every dialog, in the order of the description.
constexpr ControlDescription kControls[] = {
#define VARMEX_DIALOG(id, x, y, width, height, style, caption, fontSize, fontName)
#define VARMEX_CONTROL(id, kind, text, x, y, width, height, style) \
  {id, VARMEX_KIND_##kind, text, x, y, width, height, static_cast<uint32_t>(style)},
#define VARMEX_DIALOG_END(id)
#include "resources/dialogs.def"
#undef VARMEX_DIALOG
#undef VARMEX_CONTROL
#undef VARMEX_DIALOG_END
};

// The description as a sequence of marks: -id opens a dialog, 1 is a control, 0
// closes the dialog. It tells where each dialog's controls lie in kControls.
constexpr int kMarks[] = {
#define VARMEX_DIALOG(id, x, y, width, height, style, caption, fontSize, fontName) -(id),
#define VARMEX_CONTROL(id, kind, text, x, y, width, height, style) 1,
#define VARMEX_DIALOG_END(id) 0,
#include "resources/dialogs.def"
#undef VARMEX_DIALOG
#undef VARMEX_CONTROL
#undef VARMEX_DIALOG_END
};

constexpr size_t FirstControl(int dialogId) {
  size_t controls = 0;
  for (int mark : kMarks) {
    if (mark == -dialogId) return controls;
    if (mark == 1) ++controls;
  }
  return controls;
}

constexpr size_t ControlCount(int dialogId) {
  size_t count = 0;
  bool inside = false;
  for (int mark : kMarks) {
    if (mark == -dialogId)
      inside = true;
    else if (inside && mark == 0)
      return count;
    else if (inside && mark == 1)
      ++count;
  }
  return count;
}

constexpr DialogDescription kDialogs[] = {
#define VARMEX_DIALOG(id, x, y, width, height, style, caption, fontSize, fontName) \
  {id,                                                                             \
   x,                                                                              \
   y,                                                                              \
   width,                                                                          \
   height,                                                                         \
   static_cast<uint32_t>(style),                                                   \
   caption,                                                                        \
   fontSize,                                                                       \
   fontName,                                                                       \
   FirstControl(id),                                                               \
   ControlCount(id)},
#define VARMEX_CONTROL(id, kind, text, x, y, width, height, style)
#define VARMEX_DIALOG_END(id)
#include "resources/dialogs.def"
#undef VARMEX_DIALOG
#undef VARMEX_CONTROL
#undef VARMEX_DIALOG_END
};

static_assert(sizeof(kDialogs) / sizeof(kDialogs[0]) == 3);

}  // namespace

std::span<const ControlDescription> DialogDescription::Controls() const {
  return std::span<const ControlDescription>(kControls).subspan(firstControl, controlCount);
}

std::span<const DialogDescription> AllDialogs() { return kDialogs; }

const DialogDescription* FindDialog(int id) {
  for (const DialogDescription& d : kDialogs) {
    if (d.id == id) return &d;
  }
  return nullptr;
}

std::string_view KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return "push button";
    case ControlKind::kDefPushButton:
      return "default push button";
    case ControlKind::kAutoRadioButton:
      return "radio button";
    case ControlKind::kAutoCheckBox:
      return "check box";
    case ControlKind::kEdit:
      return "edit";
    case ControlKind::kComboBox:
      return "combo box";
    case ControlKind::kStaticLeft:
      return "static text";
    case ControlKind::kStaticCentered:
      return "static text";
    case ControlKind::kGroupBox:
      return "group box";
  }
  return "control";
}

}  // namespace varmex::resources
