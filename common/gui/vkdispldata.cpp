// Display data and the Lua script host. The filter caches its answers in the
// row flags (0x40 worked out, 0x80 shown); a transaction's NAK rule writes the
// answers of its children, so a child is only judged after its transaction.
#include "vkdispldata.h"

#include <sys/stat.h>
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <new>

#include "vkcapture.h"
#include "vkdataio.h"
#include "vkrowutils.h"

const char* const SCRIPT_FILE = "./scripts/init.lua";

namespace {

constexpr double MYADD_A = 30.0;
constexpr double MYADD_B = 12.0;

const char* const SAVE_TITLE = "Save sample data";
const char* const READ_TITLE = "Read sample data";

// Why a save or load fell short, in words; empty when the system gave no reason.
std::string faultText(const TdataIO& io) {
  switch (io.Ffault) {
    case TfileFault::none: break;
    case TfileFault::system: return io.FfaultErrno != 0 ? std::strerror(io.FfaultErrno) : "";
    case TfileFault::folderLocked: return "its folder may not be written to, so the file cannot be replaced safely";
    case TfileFault::notRegular:
      return io.FfaultErrno != 0 ? std::strerror(io.FfaultErrno) : "it is a device, pipe or socket, not a file";
    case TfileFault::noMemory: return "there is not enough memory";
    case TfileFault::empty: return "the file is empty";
    case TfileFault::badHead: return "it is not a sample-data file";
    case TfileFault::cutOff: return "it is cut off or damaged";
    case TfileFault::damaged: return "it is damaged and fails its check";
  }
  return "";
}

// The end of a message's first sentence: the reason, when there is one.
std::string withReason(const std::string& reason) { return reason.empty() ? "." : ": " + reason + "."; }

// The bad-index precondition of the row getters: reported, never fatal.
void brokenPrecondition() { std::fprintf(stderr, "precondition failed in vkdispldata: linRowIxOK(linRowIx)\n"); }

// Lua's message on top of the stack, or a stand-in for a non-text error object.
std::string topMessage(lua_State* L) {
  const char* text = lua_tostring(L, -1);
  return text ? text : "(error object is not a string)";
}

// Text safe inside one decode-text paragraph.
std::string paragraphText(std::string text) {
  for (char& c : text)
    if (c == ';' || c == '\n' || c == '\r') c = c == ';' ? ',' : ' ';
  return text;
}

// Run inside lua_pcall, so a hostile _G metatable cannot end the program.
int callMyAdd(lua_State* L) {
  lua_getglobal(L, "myAdd");
  if (!lua_isfunction(L, -1)) return 0;  // the self-test is optional
  lua_pushnumber(L, MYADD_A);
  lua_pushnumber(L, MYADD_B);
  lua_call(L, 2, 1);
  return 0;
}

// getNode(handle): the table of a display row, nil for anything that is not
// one. Every value is range-checked before conversion; nothing here has a
// destructor, since a Lua error may unwind through it.
int getNodeC(lua_State* L) {
  auto* data = static_cast<TdisplData*>(lua_touserdata(L, lua_upvalueindex(1)));
  int ix = 0;  // no argument or a non-number reads as 0
  if (lua_gettop(L) > 0) {
    int isNumber = 0;
    const lua_Number value = std::floor(lua_tonumberx(L, -1, &isNumber));
    if (!isNumber)
      ix = 0;
    else if (value >= 0 && value <= static_cast<lua_Number>(INT_MAX))  // false for NaN
      ix = static_cast<int>(value);
    else
      ix = -1;
  }
  if (!data || data->getNode(L, ix) != 1) lua_pushnil(L);
  return 1;
}

int registerGetNode(lua_State* L) {
  lua_pushvalue(L, 1);  // the display data, as the closure's upvalue
  lua_pushcclosure(L, getNodeC, 1);
  lua_setglobal(L, "getNode");
  return 0;
}

}  // namespace

TdisplData::TdisplData(const std::string& scriptPath)
    : FlinRows(std::make_shared<TlinVec>()), FtreeRoots(std::make_shared<TrowVec>()) {
  initLua(scriptPath);
  FsaveSub = TsubToken(TOPIC_FILE_SAVE, [this](long arg) { onSampleFileSave(arg); });
}

TdisplData::~TdisplData() {
  FsaveSub.reset();
  if (FL) lua_close(FL);
}

// ---- the data set ----

int TdisplData::rowCount() const { return static_cast<int>(FlinRows->size()); }

bool TdisplData::linRowIxOK(int ix) const { return ix >= 0 && ix < rowCount(); }

TrowPtr TdisplData::getDisplRowPtr(int ix) const {
  if (!linRowIxOK(ix)) {
    brokenPrecondition();
    return TrowPtr();
  }
  return (*FlinRows)[static_cast<size_t>(ix)].row;
}

unsigned TdisplData::adopt(TlinVecPtr rows, TrowVecPtr roots) {
  if (!rows || rows->empty()) return 0;
  FlinRows = std::move(rows);
  FtreeRoots = roots ? std::move(roots) : std::make_shared<TrowVec>();
  ++FdataSetSerial;
  return static_cast<unsigned>(FlinRows->size());
}

// ---- the filter ----

bool TdisplData::isVisible(int ix) {
  if (!linRowIxOK(ix)) return false;
  TlinRow& r = (*FlinRows)[static_cast<size_t>(ix)];
  if (!(r.flags & LR_WORKED_OUT)) workOut(ix);
  return (r.flags & LR_VISIBLE) != 0;
}

// The transaction above row j that is not worked out yet, or -1.
int TdisplData::pendingParent(int j) const {
  const TlinVec& rows = *FlinRows;
  const TrowPtr& row = rows[static_cast<size_t>(j)].row;
  const int p = row ? row->parent : -1;
  if (p < 0 || p >= j) return -1;  // parents precede their children, even in a malformed file
  const TlinRow& up = rows[static_cast<size_t>(p)];
  if ((up.flags & LR_WORKED_OUT) || !up.row || up.row->kind != RK_TRANSAX) return -1;
  return p;
}

void TdisplData::workOut(int ix) {
  // Transactions above ix that are not worked out yet go first, outermost
  // first: their NAK rule may decide ix.
  if (pendingParent(ix) >= 0) {
    Fpending.clear();
    for (int p = pendingParent(ix); p >= 0; p = pendingParent(p)) Fpending.push_back(p);
    for (auto it = Fpending.rbegin(); it != Fpending.rend(); ++it)
      if (!((*FlinRows)[static_cast<size_t>(*it)].flags & LR_WORKED_OUT)) workOutOwn(*it);
    if ((*FlinRows)[static_cast<size_t>(ix)].flags & LR_WORKED_OUT) return;
  }
  workOutOwn(ix);
}

void TdisplData::workOutOwn(int ix) {
  TlinRow& r = (*FlinRows)[static_cast<size_t>(ix)];
  // Kinds outside 0..7 are shown; a missing row is not.
  const bool shown =
      r.row &&
      visitRow(static_cast<const Tbase&>(*r.row),
               Toverload{[](const Treset&) { return true; }, [](const Tsof&) { return _G.showSOFs; },
                         [](const TsofGroup&) { return _G.showSOFs; },
                         [this](const Ttransax& trx) { return !hideNakd(trx); }, [](const Ttransfer&) { return true; },
                         [](const TpacketBase&) { return _G.showPackets; }},
               true);
  r.flags = static_cast<uint8_t>((shown ? r.flags | LR_VISIBLE : r.flags & ~LR_VISIBLE) | LR_WORKED_OUT);
}

bool TdisplData::hideNakd(const Ttransax& trx) {
  if (_G.showNAKs) return false;
  const auto isNak =
      Toverload{[](const Thandshake& hs) { return hs.pid == PID_NAK; }, [](const Tbase&) { return false; }};
  if (std::none_of(trx.children.begin(), trx.children.end(), [&isNak](const TrowPtr& child) {
        return child && visitRow(static_cast<const Tbase&>(*child), isNak);
      }))
    return false;
  // Children are found by their handles; a handle that does not lead back
  // to the child (a malformed file) marks nothing.
  TlinVec& rows = *FlinRows;
  for (const TrowPtr& child : trx.children) {
    if (!child || !linRowIxOK(child->handle)) continue;
    TlinRow& c = rows[static_cast<size_t>(child->handle)];
    if (c.row != child) continue;
    c.flags = static_cast<uint8_t>((c.flags & ~LR_VISIBLE) | LR_WORKED_OUT);
  }
  return true;
}

int TdisplData::nextVisibleRow(int ix) {
  if (!linRowIxOK(ix)) return -1;
  for (int i = ix + 1; i < rowCount(); ++i)
    if (isVisible(i)) return i;
  return -1;
}

int TdisplData::prevVisibleRow(int ix) {
  if (!linRowIxOK(ix)) return -1;
  for (int i = ix - 1; i >= 0; --i)
    if (isVisible(i)) return i;
  return -1;
}

int TdisplData::nearestVisibleRow(int ix) {
  if (!linRowIxOK(ix)) return -1;
  if (isVisible(ix)) return ix;
  // Outward, the earlier side first at each distance: ties go to the earlier row.
  const long long n = rowCount();
  for (long long d = 1;; ++d) {
    const long long before = ix - d, after = ix + d;
    if (before < 0 && after >= n) return -1;
    if (before >= 0 && isVisible(static_cast<int>(before))) return static_cast<int>(before);
    if (after < n && isVisible(static_cast<int>(after))) return static_cast<int>(after);
  }
}

void TdisplData::resetVisibleRows() {
  for (TlinRow& r : *FlinRows) r.flags &= static_cast<uint8_t>(~LR_WORKED_OUT);
}

// ---- double click and user flag ----

int TdisplData::doubleClick(int ix) {
  if (!linRowIxOK(ix)) return 0;
  const TrowPtr& row = (*FlinRows)[static_cast<size_t>(ix)].row;
  if (row) visitRow(*row, Toverload{[this, &row](const Tgrouper&) { flipUserFlag(row); }, [](const Tbase&) {}});
  return 1;
}

void TdisplData::flipUserFlag(const TrowPtr& row) {
  // Depth-first with an explicit stack: a hand-made file may nest deeply.
  std::vector<const Tbase*> todo{row.get()};
  while (!todo.empty()) {
    const Tbase* r = todo.back();
    todo.pop_back();
    if (!r) continue;
    visitRow(*r, Toverload{[&todo](const Tgrouper& g) {
                             for (auto it = g.children.rbegin(); it != g.children.rend(); ++it)
                               todo.push_back(it->get());
                           },
                           [this](const Tbase& leaf) {
                             if (!linRowIxOK(leaf.handle)) return;
                             TlinRow& lin = (*FlinRows)[static_cast<size_t>(leaf.handle)];
                             if (lin.row.get() == &leaf) lin.flags ^= LR_USER;
                           }});
  }
}

bool TdisplData::userFlag(int ix) const {
  return linRowIxOK(ix) && ((*FlinRows)[static_cast<size_t>(ix)].flags & LR_USER) != 0;
}

// ---- bytes, boxes and decode text ----

const TbyteVec* TdisplData::getData(int ix) const {
  static const TbyteVec empty;
  if (!linRowIxOK(ix)) return &empty;
  Tbase* row = (*FlinRows)[static_cast<size_t>(ix)].row.get();
  if (!row) return &empty;
  const TbyteVec* none = &empty;
  return visitRow(
      *row,
      Toverload{[](Tdata& d) -> const TbyteVec* { return &d.data; },
                [none](Ttransax& t) -> const TbyteVec* {
                  const auto d = t.findDataPkt();  // the packet lives in the tree
                  return d ? &d->data : none;
                },
                [](Ttransfer& t) -> const TbyteVec* { return &t.findData(); }, [none](Tbase&) { return none; }},
      none);
}

TboxVec* TdisplData::genRowBoxes(int ix, size_t maxBoxes) {
  if (!linRowIxOK(ix)) {
    brokenPrecondition();
    Fboxes.init();
    return &Fboxes.boxes;
  }
  return Fboxes.getBoxes((*FlinRows)[static_cast<size_t>(ix)].row, maxBoxes);
}

std::string TdisplData::genRowDecode(int ix) {
  if (!linRowIxOK(ix)) return "Error - row " + std::to_string(ix);
  const TrowPtr& row = (*FlinRows)[static_cast<size_t>(ix)].row;
  std::string text = doDecode(row);
  if (!FscriptError.empty() && row && row->kind != RK_SOFGROUP)
    text = "SThe decode scripts failed to load, so rows may lack their decode text: " + paragraphText(FscriptError) +
           ";" + text;
  return text;
}

// ---- files and capture ----

unsigned TdisplData::sampleFileRead(const std::string& path) {
  TdataIO io;
  unsigned adopted = 0;
  bool noMemory = false;
  try {
    auto rows = std::make_shared<TlinVec>();
    auto roots = std::make_shared<TrowVec>();
    io.loadLinearFile(path, roots, rows);
    adopted = adopt(rows, roots);  // the rows read decide, not the loader's count
  } catch (const std::bad_alloc&) {
    noMemory = true;  // what the load built went with its vectors
  }
  try {
    reportRead(path, io, adopted, noMemory);
  } catch (const std::bad_alloc&) {
    // No memory left even for the words: the outcome stands unsaid.
  }
  return adopted;
}

void TdisplData::reportRead(const std::string& path, const TdataIO& io, unsigned adopted, bool noMemory) {
  const char* kept = rowCount() > 0 ? "\nThe data shown before is kept." : "";
  if (noMemory) {
    tell(READ_TITLE, "There is not enough memory to read the sample data in ", path, std::string(".") + kept);
  } else if (adopted > 0) {
    if (io.Ffault == TfileFault::cutOff)
      tell(READ_TITLE, "The sample data in ", path,
           " is incomplete (cut off or damaged): only the " + std::to_string(adopted) +
               " rows before the break were read.");
    else if (io.Ffault == TfileFault::damaged)
      tell(READ_TITLE, "The sample data in ", path,
           " is damaged: it fails its check, so the " + std::to_string(adopted) +
               " rows read from it may hold wrong lines.");
  } else if (!path.empty() && !(io.Ffault == TfileFault::system && io.FfaultErrno == ENOENT)) {
    // Nothing by that name is no failure: the default sample file is optional.
    const std::string reason = io.Ffault == TfileFault::none ? "it holds no rows" : faultText(io);
    tell(READ_TITLE, "The sample data could not be read from ", path, withReason(reason) + kept);
  }
}

unsigned TdisplData::sampleFileSave(const std::string& path, std::string& reason) {
  TdataIO io;
  const int written = io.saveLinearToFile(FlinRows, path);
  reason = written > 0 ? std::string() : faultText(io);
  return written > 0 ? static_cast<unsigned>(written) : 0;
}

unsigned TdisplData::onSampleFileSave(long arg) {
  if (arg == 0) return 0;
  unsigned written = 0;
  try {
    const std::string path(reinterpret_cast<const char*>(arg));
    struct stat st {};
    const bool hadFile = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    TdataIO io;
    written = static_cast<unsigned>(io.saveLinearToFile(FlinRows, path));
    // An empty data set writes a file of no rows: only a fault says it failed.
    if (written == 0 && (rowCount() > 0 || io.Ffault != TfileFault::none)) reportSaveFailure(path, io, hadFile);
  } catch (const std::bad_alloc&) {
    // No memory left even for the path or the words: the outcome stands unsaid.
  }
  return written;
}

void TdisplData::reportSaveFailure(const std::string& path, const TdataIO& io, bool hadFile) {
  // A failed save never touches the file, so this is only said where there was one.
  const std::string kept = hadFile ? "\nAn earlier file of that name is left as it was." : "";
  if (io.Ffault == TfileFault::noMemory)
    tell(SAVE_TITLE, "There is not enough memory to save the sample data to ", path, "." + kept);
  else
    tell(SAVE_TITLE, "The sample data could not be saved to ", path, withReason(faultText(io)) + kept);
}

void TdisplData::tell(const char* title, const std::string& before, const std::string& path, const std::string& after) {
  if (!wxTheApp) {
    std::fprintf(stderr, "%s%s%s\n", before.c_str(), path.c_str(), after.c_str());
    return;
  }
  wxWindow* parent = FsaveParent ? FsaveParent : wxTheApp->GetTopWindow();
  // The path is in the file system's encoding, the rest is UTF-8.
  const wxString message =
      wxString::FromUTF8(before.c_str()) + wxString(path.c_str(), *wxConvFileName) + wxString::FromUTF8(after.c_str());
  wxMessageDialog box(parent, message, title, wxOK | wxICON_ERROR);
  box.ShowModal();
}

unsigned TdisplData::doCapture() {
  TcaptureDialog dialog;
  if (!dialog.retOK()) return 0;
  return adopt(dialog.linRows, dialog.treeRoots);  // the packet rows are not kept
}

// ---- the script host ----

void TdisplData::initLua(const std::string& scriptPath) {
  FL = luaL_newstate();
  if (!FL) {
    FscriptError = "no memory for the Lua state";
    std::fprintf(stderr, "Error: %s\n", FscriptError.c_str());
    return;
  }
  luaL_openlibs(FL);
  int status = luaL_loadfilex(FL, scriptPath.c_str(), nullptr);
  if (status == LUA_OK) status = lua_pcall(FL, 0, LUA_MULTRET, 0);
  if (status != LUA_OK) {
    FscriptError = topMessage(FL);
    std::fprintf(stderr, "Error: %s\n", FscriptError.c_str());
  } else {
    lua_settop(FL, 0);  // what the chunk returned has no use
    lua_pushcfunction(FL, callMyAdd);
    if (lua_pcall(FL, 0, 0, 0) != LUA_OK) std::fprintf(stderr, "Error: %s\n", topMessage(FL).c_str());
  }
  lua_settop(FL, 0);
  // After the file has run: its top-level code cannot call getNode.
  lua_pushcfunction(FL, registerGetNode);
  lua_pushlightuserdata(FL, this);
  if (lua_pcall(FL, 1, 0, 0) != LUA_OK) std::fprintf(stderr, "Error: %s\n", topMessage(FL).c_str());
  lua_settop(FL, 0);
}

int TdisplData::getNode(lua_State* L, int ix) {
  if (!L || !linRowIxOK(ix)) return -1;
  const int top = lua_gettop(L);
  // A reference, not a copy: a Lua error may unwind through this frame.
  const TrowPtr& row = (*FlinRows)[static_cast<size_t>(ix)].row;
  rowutils::setParams(row, L);  // checks the stack room itself
  if (lua_gettop(L) == top + 1) return 1;
  lua_settop(L, top);
  return -1;
}

std::string TdisplData::doDecode(const TrowPtr& row) { return rowutils::doDecode(row, FL); }
