// The "Raw Data" pane: a row's bytes as a hex dump (a byte count line, a
// column header, eight bytes a line in hex and as characters), or " No Data".
// The dump's text is built by plain functions and appended once per font.
#pragma once

#include <wx/panel.h>
#include <wx/textctrl.h>

#include <cstddef>
#include <string>

#include "vkrows.h"

namespace hexdump {

// " 3 bytes", or " No Data" for none: shown in the heading font.
std::string heading(size_t n);
// The column header ("\n\n      0  1 ... 7  01234567"), empty for no bytes.
std::string columnHeader(size_t n);
// At most this many bytes are dumped; a click on a bigger row stays quick.
constexpr size_t MAX_SHOWN_BYTES = 16384;

// The dump lines, each "\n " + offset + ":" + hex + "  " + characters, for
// the first MAX_SHOWN_BYTES bytes; past that one more line gives the total.
std::string lines(const TbyteVec& bytes);

}  // namespace hexdump

class TdataPane : public wxPanel {
 public:
  TdataPane(wxWindow* parent, int id);
  ~TdataPane() override = default;

  // Replaces the whole content with the dump of bytes.
  void renderPacket(const TbyteVec& bytes);
  // Clears and writes the heading (and the column header) for n bytes.
  void head(int n);
  // Appends s (UTF-8) at the end, in the current default style.
  void render(const std::string& s);
  // Sets the default style's text colour to c (0x00BBGGRR); font and
  // background stay as they are.
  void colour(unsigned long c);

  wxTextCtrl* textCtrl = nullptr;

 private:
  void fill(const std::string& headingText, const std::string& dumpText);
};
