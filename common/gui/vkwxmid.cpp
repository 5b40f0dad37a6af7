#include "vkwxmid.h"

#include <wx/fontenum.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>

#include "vkdecode.h"
#include "vkdpane.h"
#include "vkglobs.h"
#include "vktree.h"

namespace {
const wxColour TITLE_BAND(211, 211, 211);
constexpr double OUTER_GRAVITY = 0.8;
constexpr int OUTER_MIN_PANE = 300;
constexpr int OUTER_RIGHT = 420;  // the right column's width at start
constexpr double INNER_GRAVITY = 0.6;
constexpr int INNER_MIN_PANE = 200;
constexpr int INNER_BOTTOM = 220;  // the raw-data pane's height at start
}  // namespace

MidPane::MidPane(wxWindow* parent, int id) : wxPanel(parent, id) {
  auto* outer = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_3D, "splitter");
  outer->SetSashGravity(OUTER_GRAVITY);
  outer->SetMinimumPaneSize(OUTER_MIN_PANE);
  auto* inner = new wxSplitterWindow(outer, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_3D, "splitter");
  inner->SetSashGravity(INNER_GRAVITY);
  inner->SetMinimumPaneSize(INNER_MIN_PANE);

  // The row view fills both other panes on a click, so they come first.
  decodePane = new TdecodePane(inner);
  dataPane = new TdataPane(inner, wxID_ANY);
  inner->SplitHorizontally(decodePane, dataPane);
  treePane = new TreePane(outer, *dataPane, *decodePane);
  outer->SplitVertically(treePane, inner);
  setSashes();

  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->Add(outer, 1, wxEXPAND);
  SetSizer(sizer);
  // The inner splitter's notification rises to the outer one.
  outer->Bind(wxEVT_SPLITTER_SASH_POS_CHANGED, &MidPane::onSplitterChanged, this);
}

MidPane::~MidPane() = default;

void MidPane::setSashes() {
  auto* outer = static_cast<wxSplitterWindow*>(treePane->GetParent());
  auto* inner = static_cast<wxSplitterWindow*>(decodePane->GetParent());
  // A negative sash position counts from the far edge to the sash's near
  // side, so the sash itself (5 px with GTK 3) would come out of the pane.
  inner->SetSashPosition(-(INNER_BOTTOM + inner->GetSashSize()));
  outer->SetSashPosition(-(OUTER_RIGHT + outer->GetSashSize()));
}

int MidPane::minHeight() const {
  const auto* outer = static_cast<const wxSplitterWindow*>(treePane->GetParent());
  const auto* inner = static_cast<const wxSplitterWindow*>(decodePane->GetParent());
  return 2 * (outer->GetBorderSize() + inner->GetBorderSize() + INNER_MIN_PANE) + inner->GetSashSize();
}

void MidPane::zoom(int pointSize) { treePane->zoom(pointSize); }

void MidPane::onSplitterChanged(wxSplitterEvent&) { _G.pub(TOPIC_SPLITTER, 0); }

TitlePane::TitlePane(wxWindow* parent, const wchar_t* caption) : wxPanel(parent, wxID_ANY) {
  auto* text = new wxStaticText(this, wxID_ANY, wxString(caption), wxDefaultPosition, wxDefaultSize, 0);
  wxFont font = GetFont();
  font.SetPointSize(font.GetPointSize() * 15 / 10);
  text->SetFont(font);
  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->AddStretchSpacer(1);
  sizer->Add(text, 0, 0, 0);
  sizer->AddStretchSpacer(1);
  SetSizer(sizer);
  SetBackgroundColour(TITLE_BAND);
}

wxFont paneFont(const char* face, wxFontFamily family, int points, bool bold) {
  wxFontInfo info(points);
  info.Family(family).Bold(bold);
  if (wxFontEnumerator::IsValidFacename(face)) info.FaceName(face);
  return wxFont(info);
}
