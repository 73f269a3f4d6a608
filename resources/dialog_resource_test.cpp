// The compiled dialog resources of a Windows program against the dialog description
// the scripted host uses: caption, font, frame, and every control's id, window class,
// complete style, position, size and text. Then a real dialog driven through the
// Win32 host.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/win32_platform.h"
#include "resources/dialogs.h"

namespace varmex::resources {
namespace {

// Walks a classic DLGTEMPLATE: 16-bit words, names either a 0xFFFF-prefixed ordinal
// or a NUL-terminated UTF-16 string, controls aligned on 32-bit boundaries.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* base, size_t size) : base_(base), size_(size) {}
  uint16_t Word() {
    EXPECT_LE(pos_ + 2, size_);
    if (pos_ + 2 > size_) return 0;
    const uint16_t v = static_cast<uint16_t>(base_[pos_] | (base_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  // A string (returned) or an ordinal (returned as "#n").
  std::string NameOrOrdinal() {
    uint16_t first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string out;
    while (first != 0) {
      out.push_back(first < 0x80 ? static_cast<char>(first) : '?');
      first = Word();
    }
    return out;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }

 private:
  const uint8_t* base_;
  size_t size_;
  size_t pos_ = 0;
};

struct Expected {
  const char* windowClass;  // a predefined class: its name; the ordinal form is also accepted
  uint32_t kindStyle;
};

// Resource compilers write a predefined class by name or by ordinal; both mean it.
std::string ClassName(const std::string& raw) {
  if (raw == "#128") return "BUTTON";
  if (raw == "#129") return "EDIT";
  if (raw == "#130") return "STATIC";
  if (raw == "#133") return "COMBOBOX";
  std::string upper = raw;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return upper;
}

Expected ForKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return {"BUTTON", BS_PUSHBUTTON};
    case ControlKind::kDefPushButton:
      return {"BUTTON", BS_DEFPUSHBUTTON};
    case ControlKind::kAutoRadioButton:
      return {"BUTTON", BS_AUTORADIOBUTTON};
    case ControlKind::kAutoCheckBox:
      return {"BUTTON", BS_AUTOCHECKBOX};
    case ControlKind::kGroupBox:
      return {"BUTTON", BS_GROUPBOX};
    case ControlKind::kEdit:
      return {"EDIT", ES_LEFT};
    case ControlKind::kStaticLeft:
      return {"STATIC", SS_LEFT};
    case ControlKind::kStaticCentered:
      return {"STATIC", SS_CENTER};
    case ControlKind::kComboBox:
      return {"COMBOBOX", 0};
  }
  return {"?", 0};
}

TEST(DialogResources, MatchTheDescriptionExactly) {
  ASSERT_EQ(AllDialogs().size(), 3u);
  for (const DialogDescription& d : AllDialogs()) {
    SCOPED_TRACE("dialog " + std::to_string(d.id));
    HRSRC found =
        ::FindResourceA(nullptr, MAKEINTRESOURCEA(d.id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(::LockResource(::LoadResource(nullptr, found)));
    ASSERT_NE(bytes, nullptr);
    TemplateReader r(bytes, ::SizeofResource(nullptr, found));

    EXPECT_EQ(r.Dword(), d.style | DS_SETFONT);
    EXPECT_EQ(r.Dword(), 0u);  // extended style
    const uint16_t count = r.Word();
    EXPECT_EQ(count, d.controlCount);
    EXPECT_EQ(r.Short(), d.x);
    EXPECT_EQ(r.Short(), d.y);
    EXPECT_EQ(r.Short(), d.width);
    EXPECT_EQ(r.Short(), d.height);
    EXPECT_EQ(r.NameOrOrdinal(), "");  // no menu
    EXPECT_EQ(r.NameOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(r.NameOrOrdinal(), std::string(d.caption));
    EXPECT_EQ(r.Word(), d.fontSize);
    EXPECT_EQ(r.NameOrOrdinal(), std::string(d.fontName));

    const auto controls = d.Controls();
    for (size_t i = 0; i < count && i < controls.size(); ++i) {
      const ControlDescription& c = controls[i];
      SCOPED_TRACE("control " + std::to_string(c.id) + " (" + std::string(KindName(c.kind)) + ")");
      const Expected want = ForKind(c.kind);
      r.AlignDword();
      EXPECT_EQ(r.Dword(), want.kindStyle | c.style | WS_CHILD | WS_VISIBLE);
      EXPECT_EQ(r.Dword(), 0u);
      EXPECT_EQ(r.Short(), c.x);
      EXPECT_EQ(r.Short(), c.y);
      EXPECT_EQ(r.Short(), c.width);
      EXPECT_EQ(r.Short(), c.height);
      EXPECT_EQ(r.Word(), static_cast<uint16_t>(c.id));
      EXPECT_EQ(ClassName(r.NameOrOrdinal()), want.windowClass);
      EXPECT_EQ(r.NameOrOrdinal(), std::string(c.text));
      EXPECT_EQ(r.Word(), 0u);  // no creation data
    }
  }
}

// A procedure that exercises the host on a real window during initialisation and
// ends the dialog with what it read back.
class ProbeProcedure : public platform::DialogProcedure {
 public:
  bool OnInit(platform::DialogHost& host) override {
    host.ComboReset(1002);
    host.ComboAddString(1002, std::string("E\0junk", 6));
    host.ComboAddString(1002, "C");
    emptySelection = host.ComboGetSelection(1002);
    host.ComboSetSelection(1002, 1);
    selection = host.ComboGetSelection(1002);  // the list is sorted: "E" is second
    host.SetItemText(1002, "Drive letter");
    text = host.GetItemText(1002, 5);
    host.EndDialog(42);
    return true;
  }
  bool OnCommand(platform::DialogHost&, int, int) override { return false; }

  int emptySelection = 99;
  int selection = -5;
  std::string text;
};

TEST(DialogResources, RealDialogIsDrivenThroughTheHost) {
  platform::Win32Platform win32;
  ProbeProcedure probe;
  const intptr_t result = win32.DialogBox(101, probe);
  if (result == -1) GTEST_SKIP() << "no window system (error " << win32.LastError() << ")";
  EXPECT_EQ(result, 42);
  EXPECT_EQ(probe.emptySelection, -1);
  EXPECT_EQ(probe.selection, 1);
  EXPECT_EQ(probe.text, "Drive");
}

TEST(DialogResources, RadioAndCheckStatesOnARealDialog) {
  struct Radios : platform::DialogProcedure {
    bool OnInit(platform::DialogHost& host) override {
      host.CheckRadioButton(1004, 1005, 1005);
      first = {host.IsButtonChecked(1004), host.IsButtonChecked(1005)};
      host.CheckRadioButton(1004, 1005, 1004);
      second = {host.IsButtonChecked(1004), host.IsButtonChecked(1005)};
      host.SetItemText(1021, "C:\\Palunor");
      field = host.GetItemText(1021, 255);
      host.EndDialog(2);
      return true;
    }
    bool OnCommand(platform::DialogHost&, int, int) override { return false; }
    std::pair<bool, bool> first, second;
    std::string field;
  } radios;
  platform::Win32Platform win32;
  const intptr_t result = win32.DialogBox(107, radios);
  if (result == -1) GTEST_SKIP() << "no window system (error " << win32.LastError() << ")";
  EXPECT_EQ(result, 2);
  EXPECT_EQ(radios.first, std::make_pair(false, true));
  EXPECT_EQ(radios.second, std::make_pair(true, false));
  EXPECT_EQ(radios.field, "C:\\Palunor");
}

}  // namespace
}  // namespace varmex::resources
