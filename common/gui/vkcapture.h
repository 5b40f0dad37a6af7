// One capture as the rest of the program sees it: constructing a TcaptureDialog
// runs the modal capture dialog to its end; afterwards the object tells whether
// the user left with OK and holds the three result vectors of the last decode
// (copied whatever way the dialog ended; act on them only when retOK()).
#pragma once

#include "vkrows.h"

class TcaptureDialog {
 public:
  TcaptureDialog();
  ~TcaptureDialog() = default;
  TcaptureDialog(const TcaptureDialog&) = delete;
  TcaptureDialog& operator=(const TcaptureDialog&) = delete;

  bool retOK() const { return okPressed; }

  bool okPressed = false;
  TrowVecPtr events;     // decoded packet and reset rows
  TrowVecPtr treeRoots;  // roots of the row tree
  TlinVecPtr linRows;    // display rows
};
