// The main window as the program starts it: start-up with and without the
// default capture and the scripts, the starting pane sizes, the menus, the
// button bar driven by real clicks, the zoom chain and its ceiling, file read
// and save through the hub, the About box's contents, the help page's address
// and the three ways to close.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "startdir.h"
#include "vkapp.h"
#include "vkdecode.h"
#include "vkdpane.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"
#include "xwm.h"

// Sizes in failure messages as WxH.
void PrintTo(const wxSize& s, std::ostream* os) { *os << s.x << "x" << s.y; }

namespace {

using startdir::TstartDir;
namespace fs = std::filesystem;

class MainFrame : public ::testing::Test {
 protected:
  void TearDown() override { startdir::closeAll(); }

  TmainFrame* start() {
    startdir::freshSettings();
    firstId = _G.peekNextId();
    frame = startQuellix();
    EXPECT_TRUE(guitest::pumpUntil([&] { return frame->IsShownOnScreen(); }));
    view = frame->midPanePtr->treePane->midPane;
    EXPECT_TRUE(guitest::pumpUntil([&] { return !view->getPaintedRows().empty(); }));
    return frame;
  }

  TdisplData& data() { return view->cache().rData(); }

  int shownRows() {
    int n = 0;
    for (int i = 0; i < data().rowCount(); ++i) n += data().isVisible(i) ? 1 : 0;
    return n;
  }

  wxButton* button(int id) { return dynamic_cast<wxButton*>(frame->FindWindow(id)); }

  // A real click in the middle of the button.
  void click(int id) {
    wxButton* b = button(id);
    ASSERT_NE(b, nullptr);
    wxUIActionSimulator sim;
    sim.MouseMove(b->GetScreenRect().GetPosition() + b->GetSize() / 2);
    guitest::pump(30);
    sim.MouseClick();
    guitest::pump(80);
  }

  int firstId = 0;
  TmainFrame* frame = nullptr;
  TreeMidPane* view = nullptr;
};

TEST_F(MainFrame, StartsOnTheDefaultCaptureWithTheSubscriptionsInOrder) {
  TstartDir dir(true, true);
  start();
  EXPECT_EQ(frame->GetTitle(), "Varnoke Quellix");
  EXPECT_STREQ(_G.fullName, "Varnoke Quellix");
  EXPECT_STREQ(_G.shortName, "Quellix");
  EXPECT_EQ(_G.maxBuffer, 128u);
  EXPECT_EQ(_G.fontSize, 12);
  ASSERT_EQ(frame->GetIcons().GetIconCount(), 1u);
  EXPECT_EQ(frame->GetIcons().GetIconByIndex(0).GetWidth(), 48);
  EXPECT_EQ(frame->GetIcons().GetIconByIndex(0).GetHeight(), 48);
  EXPECT_EQ(button(ID_SHOW_SOF)->GetLabel(), "Show SOFs");
  EXPECT_EQ(button(ID_SHOW_NAK)->GetLabel(), "Show NAKs");
  EXPECT_EQ(button(ID_SHOW_PKT)->GetLabel(), "Hide Packets");
  EXPECT_EQ(button(ID_CAPTURE)->GetLabel(), "Capture");

  // The default capture is on screen: every slot holds a row, none blank.
  EXPECT_TRUE(data().scriptError().empty()) << data().scriptError();
  EXPECT_GT(data().rowCount(), 1000);
  const std::vector<int>& painted = view->getPaintedRows();
  ASSERT_GT(painted.size(), 5u);
  EXPECT_TRUE(std::none_of(painted.begin(), painted.end(), [](int r) { return r < 0; }));

  // Display data (save), row cache (capture, read), row view (scroll, visible
  // rows), then the frame (zoom): ids in construction order, nothing else.
  const std::pair<int, int> order[] = {{TOPIC_FILE_SAVE, 0}, {TOPIC_CAPTURE, 1},  {TOPIC_FILE_READ, 2},
                                       {TOPIC_SCROLL, 3},    {TOPIC_VIS_ROWS, 4}, {TOPIC_ZOOM, 5}};
  for (auto [topic, offset] : order) {
    const auto& subs = _G.topicSubs(topic);
    ASSERT_EQ(subs.size(), 1u) << "topic " << topic;
    EXPECT_EQ(subs[0].id, firstId + offset) << "topic " << topic;
  }
  EXPECT_EQ(_G.peekNextId(), firstId + 6);
}

TEST_F(MainFrame, StartsEmptyWithoutTheDefaultCaptureOrScripts) {
  TstartDir dir(false, false);
  start();
  EXPECT_EQ(frame->GetTitle(), "Varnoke Quellix");
  EXPECT_EQ(button(ID_SHOW_SOF)->GetLabel(), "Show SOFs");
  EXPECT_EQ(button(ID_SHOW_NAK)->GetLabel(), "Show NAKs");
  EXPECT_EQ(button(ID_SHOW_PKT)->GetLabel(), "Hide Packets");
  EXPECT_EQ(data().rowCount(), 0);
  const std::vector<int>& painted = view->getPaintedRows();
  ASSERT_FALSE(painted.empty());
  EXPECT_TRUE(std::all_of(painted.begin() + 1, painted.end(), [](int r) { return r == -1; }));
  EXPECT_EQ(_G.peekNextId(), firstId + 6);
}

std::string rect(const wxRect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
         std::to_string(r.y);
}

// Also run on 800 x 600 and 1024 x 768 screens (tests/gui/CMakeLists.txt).
TEST_F(MainFrame, SizedToTheDisplayAfterTheMenuBar) {
  TstartDir dir(false, false);
  start();
  guitest::pump(200);
  const wxRect work = wxDisplay(frame).GetClientArea();
  // 1400 x 1016 on a 1920 x 1080 screen, 960 x 704 on 1024 x 768; on 800 x 600
  // as wide as the button bar.
  const wxSize least = frame->GetMinClientSize();
  EXPECT_EQ(frame->GetClientSize(),
            wxSize(std::max(least.x, std::min(work.width - 64, 1400)), std::max(least.y, work.height - 64)));
  ASSERT_NE(frame->GetMenuBar(), nullptr);
  EXPECT_EQ(frame->GetMenuBar()->GetMenuCount(), 2u);
  EXPECT_EQ(frame->GetMenuBar()->GetMenuLabelText(0), "File");
  EXPECT_EQ(frame->GetMenuBar()->GetMenuLabelText(1), "Help");

  // Centred and wholly on the screen, "-" button included, once at its final size.
  const wxRect outer = frame->GetScreenRect();
  EXPECT_NEAR(outer.x + outer.width / 2, work.x + work.width / 2, 2);
  EXPECT_TRUE(work.Contains(outer)) << rect(outer) << " on " << rect(work);
  EXPECT_TRUE(work.Contains(button(ID_ZOOM_OUT)->GetScreenRect())) << rect(button(ID_ZOOM_OUT)->GetScreenRect());

  // Never smaller than 650 by (button bar + 375), nor than the bar's width; at
  // that least size still on the screen, the decode and the raw-data pane both
  // shown at their minimum height.
  const int barHeight = button(ID_CAPTURE)->GetParent()->GetSize().y;
  frame->SetClientSize(200, 200);
  guitest::pump(200);
  EXPECT_EQ(frame->GetClientSize(), least);
  EXPECT_GE(frame->GetClientSize().x, 650);
  EXPECT_GE(frame->GetClientSize().x, button(ID_CAPTURE)->GetParent()->GetBestSize().x);
  EXPECT_GE(frame->GetClientSize().y, barHeight + 375);
  EXPECT_TRUE(work.Contains(frame->GetScreenRect())) << rect(frame->GetScreenRect()) << " on " << rect(work);
  MidPane* mid = frame->midPanePtr;
  for (wxWindow* pane : std::initializer_list<wxWindow*>{mid->decodePane, mid->dataPane}) {
    EXPECT_TRUE(pane->IsShownOnScreen());
    EXPECT_GE(pane->GetSize().y, 200) << rect(pane->GetRect());
  }
}

// Also run on 640 x 480 and 720 x 400 screens, too small for the frame's least
// size (tests/gui/CMakeLists.txt): the menus and the Capture button still reachable.
TEST_F(MainFrame, TopLeftOnTheWorkArea) {
  TstartDir dir(false, false);
  start();
  guitest::pump(200);
  const wxRect work = wxDisplay(frame).GetClientArea();
  for (wxWindow* w : std::initializer_list<wxWindow*>{frame, frame->GetMenuBar(), button(ID_CAPTURE)})
    EXPECT_TRUE(work.Contains(w->GetScreenPosition())) << rect(w->GetScreenRect()) << " on " << rect(work);
  EXPECT_TRUE(work.Contains(button(ID_CAPTURE)->GetScreenRect())) << rect(button(ID_CAPTURE)->GetScreenRect());
}

TEST_F(MainFrame, StartsWithTheRightColumnAndTheRawDataPaneAtTheirSizes) {
  TstartDir dir(false, false);
  start();
  guitest::pump(200);
  MidPane* mid = frame->midPanePtr;
  EXPECT_EQ(mid->decodePane->GetParent()->GetSize().x, 420);
  EXPECT_EQ(mid->dataPane->GetSize().y, 220);
}

TEST_F(MainFrame, ButtonBarLayoutAndRule) {
  TstartDir dir(false, false);
  start();
  guitest::pump(100);
  // Left to right: Capture, the toggles, then Help, Exit, +, - at the right end.
  const int order[] = {ID_CAPTURE, ID_SHOW_SOF, ID_SHOW_NAK, ID_SHOW_PKT,
                       wxID_HELP,  wxID_EXIT,   ID_ZOOM_IN,  ID_ZOOM_OUT};
  for (size_t i = 1; i < std::size(order); ++i)
    EXPECT_LT(button(order[i - 1])->GetPosition().x, button(order[i])->GetPosition().x) << i;
  wxWindow* bar = button(ID_CAPTURE)->GetParent();
  EXPECT_GT(button(ID_ZOOM_OUT)->GetRect().GetRight(), bar->GetClientSize().x - 60);
  // The zoom buttons are squares as high as the others, their labels drawn.
  for (int id : {ID_ZOOM_IN, ID_ZOOM_OUT}) {
    const wxSize sz = button(id)->GetSize();
    EXPECT_EQ(sz.x, sz.y);
    EXPECT_EQ(sz.y, button(ID_CAPTURE)->GetSize().y);
    const wxImage face = guitest::grab(button(id));
    int dark = 0;
    for (int y = 0; y < face.GetHeight(); ++y)
      for (int x = 0; x < face.GetWidth(); ++x) dark += face.GetRed(x, y) < 100 ? 1 : 0;
    EXPECT_GT(dark, 3) << "no label drawn on button " << id;
  }

  // The rule: one pixel of RGB(192, 192, 192) right under the bar.
  ThLine* rule = nullptr;
  for (wxWindow* w : bar->GetParent()->GetChildren())
    if (auto* r = dynamic_cast<ThLine*>(w)) rule = r;
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->GetSize().y, 1);
  EXPECT_EQ(rule->GetPosition().y, bar->GetRect().GetBottom() + 1);
  EXPECT_EQ(rule->GetBackgroundColour(), wxColour(192, 192, 192));
  EXPECT_EQ(bar->GetParent()->GetBackgroundColour(), wxColour(47, 79, 79));
}

// What GTK itself holds, out of the toolkit wrapper's sight.
template <class F>
F gtkCall(const char* name) {
  auto f = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
  EXPECT_NE(f, nullptr) << name;
  return f;
}
struct GtkList {
  void* data;
  GtkList* next;
};

// Accelerators on the GTK menu item: a stock id brings its own (Exit: Ctrl+Q).
int gtkAccels(wxMenuItem* item) {
  GtkList* accels = gtkCall<GtkList* (*)(void*)>("gtk_widget_list_accel_closures")(item->GetMenuItem());
  int n = 0;
  for (GtkList* l = accels; l; l = l->next) ++n;
  gtkCall<void (*)(GtkList*)>("g_list_free")(accels);
  return n;
}

// Closes GTK's About box. Its logo's size, "no logo" for GTK's missing-image
// icon, "" when no box is shown.
std::string closeAboutBox() {
  const auto aboutType = gtkCall<size_t (*)()>("gtk_about_dialog_get_type")();
  const auto isA = gtkCall<int (*)(void*, size_t)>("g_type_check_instance_is_a");
  const auto pixbufInt = [](const char* f, void* pixbuf) { return std::to_string(gtkCall<int (*)(void*)>(f)(pixbuf)); };
  GtkList* windows = gtkCall<GtkList* (*)()>("gtk_window_list_toplevels")();
  std::string logo;
  for (GtkList* l = windows; l; l = l->next) {
    if (!isA(l->data, aboutType)) continue;
    void* pixbuf = gtkCall<void* (*)(void*)>("gtk_about_dialog_get_logo")(l->data);
    logo = pixbuf ? pixbufInt("gdk_pixbuf_get_width", pixbuf) + "x" + pixbufInt("gdk_pixbuf_get_height", pixbuf)
                  : "no logo";
    gtkCall<void (*)(void*, int)>("gtk_dialog_response")(l->data, -7);  // close
  }
  gtkCall<void (*)(GtkList*)>("g_list_free")(windows);
  return logo;
}

// File dialogs answer Cancel at once; their messages are kept.
class TfileDialogs : public wxModalDialogHook {
 public:
  TfileDialogs() { Register(); }
  std::vector<std::string> messages;

 protected:
  int Enter(wxDialog* dialog) override {
    if (auto* f = dynamic_cast<wxFileDialog*>(dialog)) messages.push_back(f->GetMessage().utf8_string());
    return wxID_CANCEL;
  }
};

TEST_F(MainFrame, FileAndHelpMenusTheirItemsAndWhatTheyOpen) {
  TstartDir dir(false, false);
  start();
  wxMenuBar* bar = frame->GetMenuBar();
  std::string menus;  // label=id of each item, "-" a separator
  for (size_t m = 0; m < bar->GetMenuCount(); ++m) {
    menus += bar->GetMenuLabel(m).utf8_string() + ":";
    for (wxMenuItem* item : bar->GetMenu(m)->GetMenuItems()) {
      if (item->IsSeparator()) {
        menus += " -";
        continue;
      }
      menus += " " + item->GetItemLabel().utf8_string() + "=" + std::to_string(item->GetId());
      EXPECT_EQ(item->GetKind(), wxITEM_NORMAL) << menus;
      EXPECT_EQ(gtkAccels(item), 0) << menus;
    }
  }
  EXPECT_EQ(menus, "&File: &Capture=6007 - &Read data=6005 &Save data=6006 - &Exit=5006&Help: &About=5014");

  TfileDialogs dialogs;
  int published = 0;
  TsubToken reads(TOPIC_FILE_READ, [&](long) { ++published; });
  TsubToken saves(TOPIC_FILE_SAVE, [&](long) { ++published; });
  EXPECT_TRUE(frame->ProcessCommand(ID_READ_DATA));
  EXPECT_TRUE(frame->ProcessCommand(ID_SAVE_DATA));
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Open saved sample data", "Save sample data"}));
  EXPECT_EQ(published, 0) << "a cancelled dialog publishes nothing";
  EXPECT_TRUE(frame->ProcessCommand(wxID_ABOUT));
  EXPECT_EQ(closeAboutBox(), "48x48");
}

TEST_F(MainFrame, TogglesFlipLabelsSettingsAndShownRows) {
  TstartDir dir(true, true);
  start();
  int visPublished = 0;
  TsubToken counter(TOPIC_VIS_ROWS, [&](long) { ++visPublished; });

  struct Toggle {
    int id;
    bool* setting;
    const char* before;
    const char* after;
  };
  const Toggle toggles[] = {{ID_SHOW_SOF, &_G.showSOFs, "Show SOFs", "Hide SOFs"},
                            {ID_SHOW_NAK, &_G.showNAKs, "Show NAKs", "Hide NAKs"},
                            {ID_SHOW_PKT, &_G.showPackets, "Hide Packets", "Show Packets"}};
  for (const Toggle& t : toggles) {
    SCOPED_TRACE(t.before);
    const bool was = *t.setting;
    const int shownBefore = shownRows();
    click(t.id);
    EXPECT_EQ(button(t.id)->GetLabel(), t.after);
    EXPECT_EQ(*t.setting, !was);
    EXPECT_EQ(visPublished, 1);
    const int shownBetween = shownRows();
    // Showing SOFs or NAKs adds rows; hiding packets takes rows away.
    if (was) {
      EXPECT_LT(shownBetween, shownBefore);
    } else {
      EXPECT_GT(shownBetween, shownBefore);
    }
    click(t.id);
    EXPECT_EQ(button(t.id)->GetLabel(), t.before);
    EXPECT_EQ(*t.setting, was);
    EXPECT_EQ(visPublished, 2);
    EXPECT_EQ(shownRows(), shownBefore);
    visPublished = 0;
  }
}

TEST_F(MainFrame, ZoomStepsUpAndDownToSix) {
  TstartDir dir(true, true);
  start();
  EXPECT_EQ(frame->GetFont().GetPointSize(), 12);
  int lastHeight = view->cache().getRowHt();
  for (int want : {14, 16, 19, 22, 26}) {
    click(ID_ZOOM_IN);
    EXPECT_EQ(frame->GetFont().GetPointSize(), want);
    EXPECT_EQ(view->cache().rowPointSize(), want);
    EXPECT_GT(view->cache().getRowHt(), lastHeight) << want;
    lastHeight = view->cache().getRowHt();
  }
  for (int want : {21, 17, 14, 12, 10, 8, 6, 6}) {
    click(ID_ZOOM_OUT);
    EXPECT_EQ(frame->GetFont().GetPointSize(), want);
    EXPECT_EQ(view->cache().rowPointSize(), want);
  }
  // Straight through the hub, as the buttons do.
  _G.pub(TOPIC_ZOOM, 1);
  EXPECT_EQ(frame->GetFont().GetPointSize(), 8);
}

TEST_F(MainFrame, ZoomStopsAtTheRowFontsCeilingAndComesDownAtOnce) {
  TstartDir dir(true, true);
  start();
  for (int i = 0; i < 100; ++i) click(ID_ZOOM_IN);
  EXPECT_EQ(frame->GetFont().GetPointSize(), view->cache().rowPointSize());
  const int topHeight = view->cache().getRowHt();
  click(ID_ZOOM_OUT);
  EXPECT_LT(view->cache().getRowHt(), topHeight);
  EXPECT_EQ(frame->GetFont().GetPointSize(), view->cache().rowPointSize());
}

TEST_F(MainFrame, ReadAndSaveThroughTheHubWithNonAsciiNames) {
  TstartDir dir(true, true, "qx-files");
  start();
  const int rows = data().rowCount();
  ASSERT_GT(rows, 0);

  // What the Save dialog hands on: a name with an umlaut, in a folder with one.
  const wxString folder = wxString::FromUTF8((dir.path / "Mess\xC3\xBCngen").string().c_str());
  ASSERT_TRUE(wxFileName::Mkdir(folder));
  const wxString saved = folder + "/" + wxString::FromUTF8("Messung-\xC3\xA4.vkd");
  EXPECT_EQ(fileNameBytes(saved), std::string(saved.utf8_str()));
  frame->publishPath(TOPIC_FILE_SAVE, saved);
  const std::string savedBytes = fileNameBytes(saved);
  const std::string first = startdir::gunzip(savedBytes);
  ASSERT_FALSE(first.empty()) << "nothing written to " << savedBytes;
  EXPECT_EQ(first, startdir::gunzip("default.vkd"));

  // Read back over an empty view: the same rows come back and show.
  TstartDir empty(false, false, "qx-files-empty");
  startdir::closeAll();
  start();
  ASSERT_EQ(data().rowCount(), 0);
  int visPublished = 0;
  TsubToken counter(TOPIC_VIS_ROWS, [&](long) { ++visPublished; });
  frame->publishPath(TOPIC_FILE_READ, saved);
  EXPECT_EQ(data().rowCount(), rows);
  EXPECT_EQ(visPublished, 1);
  guitest::pump(100);
  EXPECT_GE(view->getPaintedRows().at(1), 0);

  // The shown rows saved again give the same file contents.
  const wxString again = wxString::FromUTF8((dir.path / "zur\xC3\xBC"
                                                        "ck.vkd")
                                                .string()
                                                .c_str());
  frame->publishPath(TOPIC_FILE_SAVE, again);
  EXPECT_EQ(startdir::gunzip(fileNameBytes(again)), first);

  // A name that does not exist reads nothing and keeps the rows.
  frame->publishPath(TOPIC_FILE_READ, folder + wxString::FromUTF8("/fehlt-\xC3\xB6.vkd"));
  EXPECT_EQ(data().rowCount(), rows);
  EXPECT_EQ(visPublished, 1);
}

TEST_F(MainFrame, AboutAndHelpPage) {
  TstartDir dir(false, false, "qx help \xC3\xA4");
  start();
  const wxAboutDialogInfo info = aboutInfo();
  EXPECT_EQ(info.GetName(), "Quellix");
  EXPECT_EQ(info.GetVersion(), "1.0.8");
  EXPECT_EQ(info.GetDescription(), " \nThe Capture and Display interface to the Quellix USB Protocol Analyzer.");
  ASSERT_EQ(info.GetDevelopers().size(), 1u);
  EXPECT_EQ(info.GetDevelopers()[0], wxString::FromUTF8(_G.creditLine));
  // The program's own icon, pixel for pixel the frame's.
  ASSERT_TRUE(info.HasIcon());
  const wxImage logo = wxBitmap(info.GetIcon()).ConvertToImage();
  const wxImage icon = wxBitmap(frame->GetIcons().GetIconByIndex(0)).ConvertToImage();
  ASSERT_TRUE(logo.GetSize() == wxSize(48, 48) && icon.GetSize() == logo.GetSize());
  EXPECT_EQ(0, memcmp(logo.GetData(), icon.GetData(), 48 * 48 * 3));

  // The help page's address names the working directory's quellix_help.html,
  // escaped so that the blank and the umlaut survive.
  const wxString url = helpPageUrl();
  EXPECT_TRUE(url.StartsWith("file:///")) << url;
  EXPECT_FALSE(url.StartsWith("file:////")) << url;
  EXPECT_TRUE(url.EndsWith("/quellix_help.html")) << url;
  EXPECT_EQ(url.Find(' '), wxNOT_FOUND) << url;
  EXPECT_EQ(wxFileName::URLToFileName(url).GetFullPath(),
            wxString::FromUTF8((dir.path / "quellix_help.html").string().c_str()));
}

// Warnings and errors logged while it lives, kept instead of shown in a box.
class TlogKept : public wxLog {
 public:
  TlogKept() : Fprevious(wxLog::SetActiveTarget(this)) {}
  ~TlogKept() override { wxLog::SetActiveTarget(Fprevious); }
  std::vector<std::string> messages;

 protected:
  void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override {
    if (level <= wxLOG_Warning) messages.push_back(msg.utf8_string());
  }

 private:
  wxLog* Fprevious;
};

TEST_F(MainFrame, HelpWithoutABrowserSaysNothing) {
  // Where the desktop knows a browser, Help would start it.
  void* html = gtkCall<void* (*)(const char*, int)>("g_app_info_get_default_for_type")("text/html", 0);
  void* file = gtkCall<void* (*)(const char*)>("g_app_info_get_default_for_uri_scheme")("file");
  for (void* app : {html, file})
    if (app) gtkCall<void (*)(void*)>("g_object_unref")(app);
  if (html || file) GTEST_SKIP() << "a browser is installed";
  TstartDir dir(false, false);
  start();
  // Nothing to run on PATH: no xdg-open, no desktop's opener.
  wxString path;
  wxGetEnv("PATH", &path);
  wxSetEnv("PATH", wxString::FromUTF8(dir.path.string().c_str()));
  TlogKept log;
  for (bool withPage : {false, true}) {
    log.messages.clear();
    if (withPage) fs::copy_file(fs::path(QX_RUN_DIR) / "quellix_help.html", dir.path / "quellix_help.html");
    click(wxID_HELP);
    guitest::pump(100);
    EXPECT_EQ(log.messages, std::vector<std::string>()) << "page there: " << withPage;
    EXPECT_EQ(wxTopLevelWindows.size(), 1u);
  }
  wxSetEnv("PATH", path);
}

TEST_F(MainFrame, ExitButtonMenuExitAndCloseBoxEndWithoutAQuestion) {
  TstartDir dir(false, false);
  start();
  // No accelerators: GTK's stock Ctrl+Q of the Exit item does not close it.
  wxUIActionSimulator sim;
  click(ID_SHOW_SOF);
  sim.Char('q', wxMOD_CONTROL);
  guitest::pump(300);
  EXPECT_EQ(wxTopLevelWindows.size(), 1u);
  click(wxID_EXIT);
  EXPECT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }, 3000));

  start();
  wxCommandEvent exitCmd(wxEVT_MENU, wxID_EXIT);
  frame->ProcessWindowEvent(exitCmd);
  EXPECT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }, 3000));

  start();
  EXPECT_TRUE(frame->Close(false));  // as the close box asks: no veto
  EXPECT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }, 3000));
}

// The frame's own X window, as other X clients know it.
unsigned long xWindow(wxWindow* w) {
  void* gdkWindow = gtkCall<void* (*)(void*)>("gtk_widget_get_window")(w->GetHandle());
  return gtkCall<unsigned long (*)(void*)>("gdk_x11_window_get_xid")(gdkWindow);
}

// Runs on 1920 x 1080 and 1024 x 768 screens of its own with openbox on them
// (tests/gui/CMakeLists.txt). A window manager frames the window only after it
// is shown and applies the size hints to what a user or a tool asks for.
TEST_F(MainFrame, LeastSizeUnderAWindowManager) {
  if (!std::getenv("QX_OWN_X_SERVER")) GTEST_SKIP() << "starts a window manager: needs an X server of its own";
  guitest::TwindowManager wm;
  ASSERT_TRUE(wm.started()) << "openbox did not start";
  ASSERT_TRUE(guitest::pumpUntil([&] { return wm.managing(); }, 30000)) << "openbox never took the screen";
  TstartDir dir(false, false);
  start();
  const unsigned long xid = xWindow(frame);
  // The toolkit knows the window manager's frame: the whole window is more
  // than the X window holding the menu bar and the client area.
  ASSERT_TRUE(guitest::pumpUntil([&] { return frame->GetSize().y > wm.size(xid).y; }, 30000));

  const int ids[] = {ID_CAPTURE, ID_SHOW_SOF, ID_SHOW_NAK, ID_SHOW_PKT, wxID_HELP, wxID_EXIT, ID_ZOOM_IN, ID_ZOOM_OUT};
  std::vector<wxSize> buttonSizes;
  for (int id : ids) buttonSizes.push_back(button(id)->GetSize());
  const wxSize xBefore = wm.size(xid);
  const wxSize menuBar = xBefore - frame->GetClientSize();
  wxWindow* panel = frame->midPanePtr->GetParent();
  wm.resize(xid, 300, 200);
  // Settled: the window manager has answered and the panes are laid out anew.
  ASSERT_TRUE(guitest::pumpUntil(
      [&] {
        const wxSize now = wm.size(xid);
        return now != xBefore && now == frame->GetClientSize() + menuBar && panel->GetSize() == frame->GetClientSize();
      },
      30000))
      << "no answer to the resize";

  const wxRect client(panel->GetScreenPosition(), frame->GetClientSize());
  EXPECT_EQ(frame->GetClientSize(), frame->GetMinClientSize());
  MidPane* mid = frame->midPanePtr;
  for (wxWindow* pane : std::initializer_list<wxWindow*>{mid->decodePane, mid->dataPane}) {
    EXPECT_GE(pane->GetSize().y, 200) << rect(pane->GetScreenRect());
    EXPECT_TRUE(client.Contains(pane->GetScreenRect())) << rect(pane->GetScreenRect()) << " in " << rect(client);
  }
  for (size_t i = 0; i < std::size(ids); ++i) {
    const wxRect b = button(ids[i])->GetScreenRect();
    EXPECT_EQ(b.GetSize(), buttonSizes[i]) << ids[i];
    EXPECT_TRUE(client.Contains(b)) << ids[i] << ": " << rect(b) << " in " << rect(client);
  }
}

}  // namespace
