// Pane layout of the main window's middle and the caption bar its panes carry.
// MidPane: the row view on the left, and on the right the decode pane above
// the raw-data pane, in two nested splitters; zoom goes to the row view only,
// and every sash move is announced on TOPIC_SPLITTER.
// TitlePane: a centred caption half as large again as its parent's font, on a
// light grey band; fixed at construction, zooming leaves it alone.
#pragma once

#include <wx/font.h>
#include <wx/panel.h>

class TreePane;
class TdecodePane;
class TdataPane;
class wxSplitterEvent;

class MidPane : public wxPanel {
 public:
  MidPane(wxWindow* parent, int id);
  ~MidPane() override;

  // The sashes at their starting places; gravity shares out later growth, so
  // the owner calls this again once the panel has its final size.
  void setSashes();
  // The least height at which the decode and raw-data panes both keep their
  // minimum; lower, the splitter squeezes the raw-data pane away.
  int minHeight() const;
  void zoom(int pointSize);
  void onSplitterChanged(wxSplitterEvent& event);

  TreePane* treePane = nullptr;
  TdecodePane* decodePane = nullptr;
  TdataPane* dataPane = nullptr;
};

class TitlePane : public wxPanel {
 public:
  TitlePane(wxWindow* parent, const wchar_t* caption);
  ~TitlePane() override = default;
};

// The panes name classic faces ("Arial", "Courier"); where fontconfig knows
// no such family the font falls back to the generic family meant (sans serif,
// monospace), so a dump stays aligned on any desktop.
wxFont paneFont(const char* face, wxFontFamily family, int points, bool bold);
