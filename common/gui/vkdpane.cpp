#include "vkdpane.h"

#include <wx/sizer.h>

#include <algorithm>
#include <cstdio>

#include "vkglobs.h"
#include "vkwxmid.h"

namespace {

const wxColour DUMP_BG(144, 238, 144);
const char* const DUMP_COLUMNS = "\n\n      0  1  2  3  4  5  6  7  01234567";
const size_t DUMP_BYTES_PER_LINE = 8;
// "\n " + offset + ":" + 8 x " xx" + "  " + 8 characters, for short offsets.
const size_t DUMP_LINE_LEN = 2 + 3 + 24 + 2 + 8;

// Only printable ASCII shows as itself: the text stays ASCII (valid UTF-8)
// whatever the locale's character tables say about bytes above 0x7e.
char shown(uint8_t b) { return b >= 0x20 && b < 0x7f ? char(b) : '.'; }

}  // namespace

namespace hexdump {

std::string heading(size_t n) { return n == 0 ? " No Data" : " " + std::to_string(n) + " bytes"; }

std::string columnHeader(size_t n) { return n == 0 ? std::string() : DUMP_COLUMNS; }

std::string lines(const TbyteVec& bytes) {
  static const char HEX[] = "0123456789abcdef";
  const size_t shownBytes = std::min(bytes.size(), MAX_SHOWN_BYTES);
  const size_t count = (shownBytes + DUMP_BYTES_PER_LINE - 1) / DUMP_BYTES_PER_LINE;
  std::string out;
  out.reserve(count * DUMP_LINE_LEN + 16);
  char offset[24];
  for (size_t line = 0; line < count; ++line) {
    const size_t first = line * DUMP_BYTES_PER_LINE;
    // The first offset is padded with a space, later ones with "0".
    std::snprintf(offset, sizeof offset, line == 0 ? "\n %2zx:" : "\n %02zx:", first);
    out += offset;
    for (size_t i = first; i < first + DUMP_BYTES_PER_LINE; ++i) {
      if (i < shownBytes) {
        out += ' ';
        out += HEX[bytes[i] >> 4];
        out += HEX[bytes[i] & 0x0f];
      } else {
        out += "   ";
      }
    }
    out += "  ";
    for (size_t i = first; i < first + DUMP_BYTES_PER_LINE && i < shownBytes; ++i) out += shown(bytes[i]);
  }
  if (shownBytes < bytes.size())
    out += "\n ... " + std::to_string(bytes.size()) + " bytes in all; only the first " + std::to_string(shownBytes) +
           " are shown";
  return out;
}

}  // namespace hexdump

TdataPane::TdataPane(wxWindow* parent, int id)
    : wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new TitlePane(this, L"Raw Data"), 0, wxEXPAND);
  textCtrl = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH | wxHSCROLL);
  textCtrl->SetBackgroundColour(DUMP_BG);
  sizer->Add(textCtrl, 1, wxEXPAND);
  SetSizer(sizer);
}

void TdataPane::fill(const std::string& headingText, const std::string& dumpText) {
  // Made afresh each time: the pane follows fontSize, not the row view's zoom.
  const wxFont headingFont = paneFont("Arial", wxFONTFAMILY_SWISS, _G.fontSize + 2, false);
  const wxFont dumpFont = paneFont("Courier", wxFONTFAMILY_TELETYPE, _G.fontSize, true);
  textCtrl->Clear();
  colour(0);
  wxTextAttr attr;
  attr.SetFont(headingFont);
  textCtrl->SetDefaultStyle(attr);
  render(headingText);
  if (dumpText.empty()) return;
  attr.SetFont(dumpFont);
  textCtrl->SetDefaultStyle(attr);
  render(dumpText);
}

void TdataPane::head(int n) {
  const size_t count = n > 0 ? size_t(n) : 0;
  fill(hexdump::heading(count), hexdump::columnHeader(count));
}

void TdataPane::renderPacket(const TbyteVec& bytes) {
  fill(hexdump::heading(bytes.size()), hexdump::columnHeader(bytes.size()) + hexdump::lines(bytes));
  textCtrl->SetSelection(0, 0);
  textCtrl->ShowPosition(0);
}

void TdataPane::render(const std::string& s) { textCtrl->AppendText(wxString::FromUTF8(s)); }

void TdataPane::colour(unsigned long c) { textCtrl->SetDefaultStyle(wxTextAttr(wxColour(c))); }
