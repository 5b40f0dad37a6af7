#include "vkcapture.h"

#include <memory>

#include "wxsGui.h"

TcaptureDialog::TcaptureDialog() {
  // Deleted here, not through Destroy: the capture thread is joined and the
  // board closed before the constructor returns.
  std::unique_ptr<TcaptureDialogInner> dialog(new TcaptureDialogInner());
  okPressed = dialog->ShowModal() == wxID_OK;
  events = dialog->pevtVec();
  treeRoots = dialog->ptreeVec();
  linRows = dialog->plinVec();
}
