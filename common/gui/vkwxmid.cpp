#include "vkwxmid.h"

#include <wx/fontenum.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace {
const wxColour TITLE_BAND(211, 211, 211);
}  // namespace

TitlePane::TitlePane(wxWindow* parent, const wchar_t* caption) : wxPanel(parent, wxID_ANY) {
  auto* text = new wxStaticText(this, wxID_ANY, wxString(caption), wxDefaultPosition,
                                wxDefaultSize, 0);
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
