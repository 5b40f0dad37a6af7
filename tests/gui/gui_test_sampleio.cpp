// Sample files that cannot be read, or only in part, through the program's
// own start-up and the read topic: the message box names the file and the
// reason, and the rows shown before stay.
#include <gtest/gtest.h>

#include <fstream>

#include "startdir.h"
#include "vkapp.h"
#include "vkmainframe.h"
#include "vkrcache.h"
#include "vktree.h"
#include "vkwxmid.h"

namespace {

using startdir::TstartDir;

TdisplData& shownData(TmainFrame* frame) { return frame->midPanePtr->treePane->midPane->cache().rData(); }

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
}

}  // namespace
