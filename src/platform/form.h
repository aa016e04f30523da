// The window toolkit: one top-level window with labels and a control array
// of command buttons. Positions and sizes are twips (1/1440 inch) as
// single-precision floats; the toolkit converts them at the window's DPI.
#pragma once

#include <string>
#include <vector>

#include "platform/error.h"

namespace zarvelo {

inline constexpr float kTwipsPerInch = 1440.0f;

struct TwipRect {
  float Left = 0, Top = 0, Width = 0, Height = 0;
};

// A font in points; an empty face means the window's default font.
struct FontSpec {
  std::wstring Face;
  float Points = 0;
  int Weight = 400;
  int Charset = 1;  // DEFAULT_CHARSET
};

enum class ControlKind { Label, CommandButton };

struct ControlDesign {
  int Id = 0;
  ControlKind Kind = ControlKind::Label;
  TwipRect Rect;
  std::wstring Text;
  FontSpec Font;
};

// What the window looks like before the load handler runs. Controls are
// listed in tab order; the one command button is element 0 of the button
// array, and element k gets its Id + k.
struct FormDesign {
  std::wstring Title;
  float ClientWidth = 0, ClientHeight = 0;
  std::vector<ControlDesign> Controls;
  int StatusLabelId = 0;  // the label SetDetail writes
};

class CommandButton {
 public:
  virtual ~CommandButton() = default;
  virtual TwipRect Bounds() const = 0;
  virtual void SetBounds(const TwipRect& rect) = 0;
  virtual void SetCaption(const std::wstring& caption) = 0;
  virtual std::wstring Tag() const = 0;
  virtual void SetTag(const std::wstring& tag) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetToolTip(const std::wstring& text) = 0;
};

class Form {
 public:
  virtual ~Form() = default;

  // The button array cmdDownloadInstall: elements 0..UBound().
  virtual int UBound() const = 0;
  virtual CommandButton& cmdDownloadInstall(int index) = 0;
  // Creates element `index` as an invisible copy of element 0.
  virtual Status LoadButton(int index) = 0;

  // The status line, lblDetail.
  virtual void SetDetail(const std::wstring& caption) = 0;

  // The window's outer height, title bar and borders included.
  virtual void SetHeight(float twips) = 0;

  // A modal message box with the stop icon and one OK button.
  virtual void MsgBox(const std::wstring& prompt, const std::wstring& title) = 0;
};

}  // namespace zarvelo
