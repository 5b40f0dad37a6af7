// Pane layout of the main window's middle and the caption bar its panes carry.
// TitlePane: a centred caption half as large again as its parent's font, on a
// light grey band; fixed at construction, zooming leaves it alone.
#pragma once

#include <wx/font.h>
#include <wx/panel.h>

class TitlePane : public wxPanel {
 public:
  TitlePane(wxWindow* parent, const wchar_t* caption);
  ~TitlePane() override = default;
};

// The panes name classic faces ("Arial", "Courier"); where fontconfig knows
// no such family the font falls back to the generic family meant (sans serif,
// monospace), so a dump stays aligned on any desktop.
wxFont paneFont(const char* face, wxFontFamily family, int points, bool bold);
