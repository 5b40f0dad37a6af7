// Display data: the data set behind the row view (display rows and the roots
// of the row tree), the visibility filter under the SOF, NAK and packet
// toggles of _G with its cache bits in each row's flags, the user flag, a
// row's bytes, boxes and decode text, sample-file read and save (topic 8),
// the capture dialog's results, and the program's one Lua state, which runs
// the decode scripts. GUI thread only.
//
// Filter invariant: a row's answer depends only on the toggles and the data,
// never on the order of the questions; a packet of a transaction is judged
// after its transaction has been worked out.
#pragma once

#include <string>
#include <vector>

#include "vkboxes.h"
#include "vkglobs.h"
#include "vkrows.h"

struct lua_State;
class TdataIO;
class wxWindow;

// Where the decode scripts live, relative to the working directory.
extern const char* const SCRIPT_FILE;

class TdisplData {
 public:
  // Makes the Lua state, runs the script file once, subscribes to topic 8.
  explicit TdisplData(const std::string& scriptPath = SCRIPT_FILE);
  ~TdisplData();
  TdisplData(const TdisplData&) = delete;
  TdisplData& operator=(const TdisplData&) = delete;

  int rowCount() const;
  bool linRowIxOK(int ix) const;
  // ix must be valid.
  TrowPtr getDisplRowPtr(int ix) const;
  const TlinVecPtr& linRows() const { return FlinRows; }
  const TrowVecPtr& treeRoots() const { return FtreeRoots; }

  // The filter. A bad index is not visible; the row queries give -1 for a
  // bad index or when no visible row is there.
  bool isVisible(int ix);
  int nextVisibleRow(int ix);
  int prevVisibleRow(int ix);
  int nearestVisibleRow(int ix);  // ix if visible, else the closer neighbour; ties to the earlier
  void resetVisibleRows();

  // 0 for a bad index, else 1: a group row flips the user flag of every leaf below it.
  int doubleClick(int ix);
  void flipUserFlag(const TrowPtr& row);
  bool userFlag(int ix) const;

  // Bytes for the hex dump; never null, empty when the row has none.
  const TbyteVec* getData(int ix) const;
  // The full boxes of a row (ix must be valid); valid until the next call.
  // A transaction stops adding its children's boxes at about maxBoxes.
  TboxVec* genRowBoxes(int ix, size_t maxBoxes = SIZE_MAX);
  // Decode text of a row; "Error - row <ix>" for a bad index.
  std::string genRowDecode(int ix);

  // Rows adopted, 0 when the data set was kept (nothing read, no rows, or no
  // memory). Says why in a message box, as failed saves are; a file that is
  // missing is not reported, one cut off is adopted as far as it goes, and
  // one damaged with every row it gave.
  unsigned sampleFileRead(const std::string& path);
  // Rows written, 0 on failure with the reason in words (may be empty) in reason.
  unsigned sampleFileSave(const std::string& path, std::string& reason);
  // Topic 8: arg is the address of a NUL-terminated path. A failed save is
  // shown in a message box over saveParent (or the application's top window);
  // without a running toolkit the messages go to standard error.
  unsigned onSampleFileSave(long arg);
  void setSaveParent(wxWindow* parent) { FsaveParent = parent; }
  // Runs the modal capture dialog; rows adopted after OK, else 0.
  unsigned doCapture();
  // Takes over a data set when rows holds at least one row; returns its row count, else 0.
  unsigned adopt(TlinVecPtr rows, TrowVecPtr roots);
  // Changes with every data set adopted.
  unsigned dataSetSerial() const { return FdataSetSerial; }

  // Script host. getNode pushes the table of display row ix on L and returns
  // 1, or pushes nothing and returns -1 for a bad index.
  int getNode(lua_State* L, int ix);
  std::string doDecode(const TrowPtr& row);
  lua_State* luaState() const { return FL; }
  // Empty after a clean start-up, else what went wrong loading the scripts.
  const std::string& scriptError() const { return FscriptError; }

 private:
  void initLua(const std::string& scriptPath);
  void workOut(int ix);
  void workOutOwn(int ix);
  int pendingParent(int j) const;
  // True when a NAK hides the transaction; then its children are marked hidden too.
  bool hideNakd(const Ttransax& trx);
  void reportRead(const std::string& path, const TdataIO& io, unsigned adopted, bool noMemory);
  void reportSaveFailure(const std::string& path, const TdataIO& io, bool hadFile);
  void tell(const char* title, const std::string& before, const std::string& path, const std::string& after);

  TlinVecPtr FlinRows;
  TrowVecPtr FtreeRoots;
  unsigned FdataSetSerial = 0;
  Tboxes Fboxes;
  lua_State* FL = nullptr;
  std::string FscriptError;
  std::vector<int> Fpending;  // scratch of workOut
  wxWindow* FsaveParent = nullptr;
  TsubToken FsaveSub;
};
