#include "gui/progress_bar.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include <algorithm>

namespace kelvanor {

ProgressBar::ProgressBar(wxWindow* parent, int range)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE),
      range_(std::max(range, 1)) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetMinSize(FromDIP(wxSize(40, 14)));
  Bind(wxEVT_PAINT, &ProgressBar::OnPaint, this);
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    Refresh();
  });
}

void ProgressBar::SetRange(int range) {
  range_ = std::max(range, 1);
  value_ = std::min(value_, range_);
  Refresh();
}

void ProgressBar::SetValue(int value) {
  value = std::clamp(value, 0, range_);
  if (value == value_) return;
  value_ = value;
  Refresh();
}

wxSize ProgressBar::DoGetBestClientSize() const { return FromDIP(wxSize(120, 16)); }

void ProgressBar::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
  dc.DrawRectangle(0, 0, size.GetWidth(), size.GetHeight());
  const int inner = size.GetWidth() - 4;
  const int filled = static_cast<int>(static_cast<long long>(inner) * value_ / range_);
  if (filled <= 0 || size.GetHeight() <= 4) return;
  const wxColour fill = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
  dc.SetPen(wxPen(fill));
  dc.SetBrush(wxBrush(fill));
  dc.DrawRectangle(2, 2, filled, size.GetHeight() - 4);
}

}  // namespace kelvanor
