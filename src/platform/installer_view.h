// The installer window as the portable logic sees it: a column of install
// buttons, a status line and error dialogs, in this product's own words.
//
// Layout is in twips (1/1440 inch), in whole numbers. The design's sizes and
// the column's spacing are whole twips but not all are whole 96-dpi pixels
// (the margin below the column is 53⅓ of them), so every DPI rounds from
// twips once, as the window was designed.
#pragma once

#include <string>
#include <vector>

namespace zarvelo {

using Twips = int;

struct TwipRect {
  Twips left = 0, top = 0, width = 0, height = 0;
};

// A font in points; an empty face means the window's default font.
struct FontSpec {
  std::wstring face;
  float points = 0;
  int weight = 400;
  int charset = 1;  // DEFAULT_CHARSET
};

enum class ControlKind { Label, InstallButton };

struct ControlDesign {
  int id = 0;
  ControlKind kind = ControlKind::Label;
  TwipRect bounds;
  std::wstring text;
  FontSpec font;
};

// What the window looks like before the versions are shown. Controls are
// listed in tab order; the one install button is the first of the column,
// and the column's button k gets its id + k.
struct WindowDesign {
  std::wstring title;
  Twips clientWidth = 0, clientHeight = 0;
  std::vector<ControlDesign> controls;
  int statusLineId = 0;  // the label SetStatus writes
};

// One button of the install column.
struct InstallButton {
  std::wstring caption;
  std::wstring toolTip;  // empty: none
  TwipRect bounds;
};

// The window reports a press of install button k to the presenter as "the
// user asked to install version k" (InstallerPresenter::InstallRequested).
class InstallerView {
 public:
  virtual ~InstallerView() = default;

  // Shows `column` as the install buttons, enabled: the first takes the
  // design's button, the others are made after it in tab order. Returns how
  // many it shows; a button that cannot be made ends the column there.
  virtual int ShowInstallButtons(const std::vector<InstallButton>& column) = 0;

  // Every install button usable (after a failed attempt) or not (while an
  // attempt runs, and after one succeeded).
  virtual void SetInstallButtonsEnabled(bool enabled) = 0;
  virtual bool InstallButtonsEnabled() const = 0;

  // The status line.
  virtual void SetStatus(const std::wstring& text) = 0;

  // The window's outer height, title bar and borders included.
  virtual void SetWindowHeight(Twips height) = 0;

  // A modal message box with the stop icon and one OK button.
  virtual void ShowError(const std::wstring& message, const std::wstring& title) = 0;
};

}  // namespace zarvelo
