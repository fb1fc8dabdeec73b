// A progress bar drawn by the window itself. The desktop's own (GTK's theme)
// draws a line of a few pixels whatever height it is given, which nobody
// reads as a bar; this one fills the room the layout gives it.
#pragma once

#include <wx/window.h>

namespace kelvanor {

class ProgressBar : public wxWindow {
 public:
  ProgressBar(wxWindow* parent, int range);

  // As wxGauge: the value runs from 0 to the range; a value beyond is the end.
  void SetRange(int range);
  int GetRange() const { return range_; }
  void SetValue(int value);
  int GetValue() const { return value_; }

 protected:
  wxSize DoGetBestClientSize() const override;

 private:
  void OnPaint(wxPaintEvent& event);

  int range_;
  int value_ = 0;
};

}  // namespace kelvanor
