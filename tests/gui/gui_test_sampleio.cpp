// Sample files that cannot be read, or only in part, through the program's
// own start-up, the read topic and File > Read data: the message box names
// the file and the reason, and the rows shown before stay.
#include <gtest/gtest.h>

#include <fstream>

#include "qxfifo.h"
#include "qxkmsg.h"
#include "startdir.h"
#include "vkapp.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

using startdir::TstartDir;

// File > Read data's dialog answered with OK and path; GTK's chooser takes
// the path only once it has read the folder.
struct TopenFile : wxExpectModalBase<wxFileDialog, TopenFile> {
  explicit TopenFile(const wxString& path) : Fpath(path) {}
  int OnInvoked(wxFileDialog* dlg) const override {
    dlg->SetPath(Fpath);
    return guitest::pumpUntil([dlg] { return !dlg->GetPath().empty(); }) ? wxID_OK : wxID_CANCEL;
  }
  wxString Fpath;
};

TdisplData& shownData(TmainFrame* frame) { return frame->midPanePtr->treePane->midPane->cache().rData(); }

const char* const DEFAULT_REFUSED =
    "The sample data could not be read from ./default.vkd: it is a device, pipe or socket, not a file.";

// Starts the program in the current folder; the words of the message box it shows.
std::string startSaying(TmainFrame*& frame) {
  startdir::freshSettings();
  wxString seen;
  wxTEST_DIALOG(frame = startQuellix(), guitest::TmessageBox(&seen));
  return seen.utf8_string();
}

class SampleFiles : public ::testing::Test {
 protected:
  void TearDown() override { startdir::closeAll(); }
};

TEST_F(SampleFiles, CutOffDefaultAndUnreadableFilesAreSaid) {
  TstartDir dir(false, true, "qx-sampleio");
  std::ifstream in(QX_RUN_DIR "/default.vkd", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream("default.vkd", std::ios::binary) << whole.substr(0, whole.size() / 2);
  std::ofstream("notes.vkd") << "Some notes, not a capture.\n";

  startdir::freshSettings();
  wxString seen;
  TmainFrame* frame = nullptr;
  wxTEST_DIALOG(frame = startQuellix(), guitest::TmessageBox(&seen));
  ASSERT_NE(frame, nullptr);
  const int rows = shownData(frame).rowCount();
  EXPECT_GT(rows, 0);
  EXPECT_EQ(seen, "The sample data in ./default.vkd is incomplete (cut off or damaged): only the " +
                      std::to_string(rows) + " rows before the break were read.");

  int visPublished = 0;
  TsubToken counter(TOPIC_VIS_ROWS, [&](long) { ++visPublished; });
  const TlinVecPtr before = shownData(frame).linRows();
  wxTEST_DIALOG(frame->publishPath(TOPIC_FILE_READ, "notes.vkd"), guitest::TmessageBox(&seen));
  EXPECT_EQ(seen,
            "The sample data could not be read from notes.vkd: it is not a sample-data file.\n"
            "The data shown before is kept.");
  EXPECT_EQ(shownData(frame).linRows(), before);
  EXPECT_EQ(visPublished, 0);

  // A last line without its end is no row, also where the head's length cannot tell.
  std::ofstream("midline.vkd") << "VKFMT01\n0\n0;Y:Reset;TI:7;RL:20;TL:3\n0;H:10;TI:70;TL:2\n0;D:3;TI:50;DA:12,01,00";
  seen.clear();
  wxTEST_DIALOG(frame->publishPath(TOPIC_FILE_READ, "midline.vkd"), guitest::TmessageBox(&seen));
  EXPECT_EQ(seen,
            "The sample data in midline.vkd is incomplete (cut off or damaged): only the 2 rows before the break were "
            "read.");
  EXPECT_EQ(shownData(frame).rowCount(), 2);
}

// A FIFO as the default sample file, or chosen in File > Read data, is refused
// at once for the reason a save gives.
TEST_F(SampleFiles, FifoIsRefusedWithoutWaiting) {
  TstartDir dir(false, true, "qx-sampleio");
  qxtest::TfifoWatch fifo((dir.path / "default.vkd").string());
  std::filesystem::create_symlink("default.vkd", "link.vkd");
  TmainFrame* frame = nullptr;
  EXPECT_EQ(startSaying(frame), DEFAULT_REFUSED);
  ASSERT_NE(frame, nullptr);
  wxString seen;

  wxTEST_DIALOG(frame->ProcessCommand(ID_READ_DATA), TopenFile(QX_RUN_DIR "/default.vkd"));
  const TlinVecPtr shown = shownData(frame).linRows();
  ASSERT_GT(shown->size(), 0u);
  const std::string link = (dir.path / "link.vkd").string();
  wxTEST_DIALOG(frame->ProcessCommand(ID_READ_DATA), TopenFile(link), guitest::TmessageBox(&seen));
  EXPECT_EQ(seen.utf8_string(), "The sample data could not be read from " + link +
                                    ": it is a device, pipe or socket, not a file.\nThe data shown before is kept.");
  EXPECT_EQ(shownData(frame).linRows(), shown);
  EXPECT_FALSE(fifo.ranOut()) << "a load waited on the FIFO";
}

// /proc/kmsg as the default sample file passes for a regular file but would
// wait for kernel messages: the start-up refuses it at once, as a device.
TEST_F(SampleFiles, KernelLogAsDefaultIsRefusedAtOnce) {
  TstartDir dir(false, true, "qx-sampleio");
  qxtest::TkmsgWatch watch;
  if (!watch.usable()) GTEST_SKIP() << qxtest::KMSG << " cannot be opened here";
  std::filesystem::create_symlink(qxtest::KMSG, "default.vkd");
  TmainFrame* frame = nullptr;
  EXPECT_EQ(startSaying(frame), DEFAULT_REFUSED);
  EXPECT_NE(frame, nullptr);
  EXPECT_FALSE(watch.ranOut()) << "the start-up waited on " << qxtest::KMSG;
}

}  // namespace
