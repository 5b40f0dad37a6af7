// Display data without a display: the filter against a plain model of its
// rules under every toggle setting and question order, the row queries, the
// user flag, the bytes of a row, sample files and topic 8, and the script host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>

#include "displtest.h"
#include "qxallocfail.h"
#include "qxuser.h"
#include "vkglobs.h"

namespace {

using displtest::TdisplHost;
namespace fs = std::filesystem;

template <class T>
std::shared_ptr<T> pkt(int pid) {
  auto p = std::make_shared<T>();
  p->pid = pid;
  return p;
}

std::shared_ptr<Tdata> dat(int pid, TbyteVec bytes) {
  auto d = pkt<Tdata>(pid);
  d->data = std::move(bytes);
  return d;
}

std::shared_ptr<Ttransax> trx(TtrxType type, TrowVec children) {
  auto t = std::make_shared<Ttransax>(type);
  t->children = std::move(children);
  return t;
}

std::shared_ptr<TsofGroup> sofs(int n) {
  auto g = std::make_shared<TsofGroup>();
  for (int i = 0; i < n; ++i) g->children.push_back(pkt<Tsof>(PID_SOF));
  return g;
}

// Every row kind: resets, SOF groups, root packets, plain and NAK'd
// transactions, a control transfer holding a NAK'd transaction.
TrowVec everyKind() {
  auto transfer = std::make_shared<Ttransfer>(TFR_CONTROL);
  transfer->children = {
      trx(TRX_SETUP, {pkt<Ttoken>(PID_SETUP), dat(PID_DATA0, {0x80, 6, 0, 1, 0, 0, 18, 0}), pkt<Thandshake>(PID_ACK)}),
      trx(TRX_IN, {pkt<Ttoken>(PID_IN), pkt<Thandshake>(PID_NAK)}),
      trx(TRX_IN, {pkt<Ttoken>(PID_IN), dat(PID_DATA1, {1, 2, 3}), pkt<Thandshake>(PID_ACK)}),
      trx(TRX_OUT, {pkt<Ttoken>(PID_OUT), dat(PID_DATA1, {}), pkt<Thandshake>(PID_ACK)}),
  };
  return {std::make_shared<Treset>(),
          sofs(3),
          trx(TRX_IN, {pkt<Ttoken>(PID_IN), pkt<Thandshake>(PID_NAK)}),
          pkt<Tsof>(PID_SOF),
          transfer,
          trx(TRX_IN, {pkt<Ttoken>(PID_IN), dat(PID_DATA0, {9}), pkt<Thandshake>(PID_ACK)}),
          pkt<Ttoken>(PID_IN),
          pkt<Thandshake>(PID_NAK),
          trx(TRX_OUT, {pkt<Ttoken>(PID_OUT), dat(PID_DATA0, {7, 7}), pkt<Thandshake>(PID_NAK)}),
          sofs(2),
          std::make_shared<Treset>()};
}

// Levels as grouping sets them, so that a saved file rebuilds the same trees.
void setLevels(const TrowPtr& row, int level) {
  row->level = level;
  if (auto g = std::dynamic_pointer_cast<Tgrouper>(row))
    for (const TrowPtr& c : g->children) setLevels(c, level + 1);
}

void show(TdisplHost& host, const TrowVec& roots) {
  for (const TrowPtr& r : roots) {
    setLevels(r, 0);
    host.addTree(r);
  }
}

// The rules, written out plainly.
bool nakd(const Tbase& row) {
  if (row.kind != RK_TRANSAX || _G.showNAKs) return false;
  for (const TrowPtr& c : static_cast<const Ttransax&>(row).children)
    if (c->kind == RK_HANDSHAKE && static_cast<const Thandshake&>(*c).pid == PID_NAK) return true;
  return false;
}

bool modelVisible(const TlinVec& rows, int i) {
  const Tbase& row = *rows[i].row;
  switch (row.kind) {
    case RK_SOF:
    case RK_SOFGROUP: return _G.showSOFs;
    case RK_TRANSAX: return !nakd(row);
    case RK_TOKEN:
    case RK_DATA:
    case RK_HANDSHAKE: return _G.showPackets && !(row.parent >= 0 && nakd(*rows[row.parent].row));
    default: return true;
  }
}

int modelNearest(const std::vector<bool>& vis, int ix) {
  const int n = static_cast<int>(vis.size());
  if (ix < 0 || ix >= n) return -1;
  if (vis[ix]) return ix;
  int next = -1, prev = -1;
  for (int i = ix + 1; i < n && next < 0; ++i)
    if (vis[i]) next = i;
  for (int i = ix - 1; i >= 0 && prev < 0; --i)
    if (vis[i]) prev = i;
  if (prev < 0) return next;
  if (next < 0) return prev;
  return next - ix < ix - prev ? next : prev;
}

class Toggles : public ::testing::Test {
 protected:
  void TearDown() override { setToggles(false, false, true); }
  static void setToggles(bool s, bool n, bool p) { _G.showSOFs = s, _G.showNAKs = n, _G.showPackets = p; }
};

using Filter = Toggles;

TEST_F(Filter, SameAnswerAsTheModelInAnyQuestionOrder) {
  TdisplHost host;
  show(host, everyKind());
  TdisplData& d = host.data;
  const TlinVec& rows = *d.linRows();
  const int n = d.rowCount();
  ASSERT_EQ(n, 1 + 4 + 3 + 1 + 1 + 4 + 3 + 4 + 4 + 4 + 1 + 1 + 4 + 3 + 1);

  std::mt19937 rng(12);
  for (int t = 0; t < 8; ++t) {
    setToggles(t & 1, t & 2, t & 4);
    std::vector<bool> want(n);
    for (int i = 0; i < n; ++i) want[i] = modelVisible(rows, i);

    std::vector<std::vector<int>> orders(6, std::vector<int>(n));
    for (auto& o : orders) std::iota(o.begin(), o.end(), 0);
    std::reverse(orders[1].begin(), orders[1].end());
    for (size_t k = 2; k < orders.size(); ++k) std::shuffle(orders[k].begin(), orders[k].end(), rng);
    for (const auto& order : orders) {
      d.resetVisibleRows();
      for (int i : order) ASSERT_EQ(d.isVisible(i), want[i]) << "toggles " << t << " row " << i;
      for (int i : order) ASSERT_EQ(d.isVisible(i), want[i]) << "cached, toggles " << t << " row " << i;
    }
    // The row queries, each starting from a forgotten filter.
    for (int i = -1; i <= n; ++i) {
      int next = -1, prev = -1;
      for (int j = i + 1; i >= 0 && j < n && next < 0; ++j)
        if (want[j]) next = j;
      for (int j = i - 1; i < n && j >= 0 && prev < 0; --j)
        if (want[j]) prev = j;
      d.resetVisibleRows();
      EXPECT_EQ(d.nextVisibleRow(i), i < n ? next : -1) << t << " " << i;
      d.resetVisibleRows();
      EXPECT_EQ(d.prevVisibleRow(i), i >= 0 ? prev : -1) << t << " " << i;
      d.resetVisibleRows();
      EXPECT_EQ(d.nearestVisibleRow(i), modelNearest(want, i)) << t << " " << i;
    }
  }
}

TEST_F(Filter, DefaultTogglesAndTheRulesOneByOne) {
  TdisplHost host;
  auto nakTrx = trx(TRX_IN, {pkt<Ttoken>(PID_IN), pkt<Thandshake>(PID_NAK)});
  auto okTrx = trx(TRX_IN, {pkt<Ttoken>(PID_IN), dat(PID_DATA0, {1}), pkt<Thandshake>(PID_ACK)});
  show(host, {std::make_shared<Treset>(), sofs(1), nakTrx, okTrx, std::make_shared<Ttransfer>()});
  TdisplData& d = host.data;
  // reset, group, sof, NAK'd trx, its 2 packets, trx, its 3 packets, transfer
  const std::vector<bool> defaults = {true, false, false, false, false, false, true, true, true, true, true};
  for (int i = 0; i < d.rowCount(); ++i) EXPECT_EQ(d.isVisible(i), defaults[i]) << i;

  setToggles(false, false, false);  // packets off: transactions and transfers stay
  d.resetVisibleRows();
  EXPECT_TRUE(d.isVisible(6) && d.isVisible(10));
  EXPECT_FALSE(d.isVisible(7) || d.isVisible(8) || d.isVisible(9));

  setToggles(false, true, false);  // NAKs on, packets off: the NAK'd transaction shows, its packets do not
  d.resetVisibleRows();
  EXPECT_TRUE(d.isVisible(3));
  EXPECT_FALSE(d.isVisible(4) || d.isVisible(5));

  // A packet asked first, then its transaction, then again: hidden each time.
  setToggles(false, false, true);
  d.resetVisibleRows();
  EXPECT_FALSE(d.isVisible(5));
  EXPECT_FALSE(d.isVisible(3));
  EXPECT_FALSE(d.isVisible(5));
  EXPECT_EQ(d.prevVisibleRow(6), 0);
}

TEST_F(Filter, NearestTiesAndEmptyAndMalformedData) {
  TdisplHost host;
  TdisplData& d = host.data;
  for (int i : {-1, 0, 5}) {
    EXPECT_FALSE(d.isVisible(i));
    EXPECT_EQ(d.nextVisibleRow(i), -1);
    EXPECT_EQ(d.prevVisibleRow(i), -1);
    EXPECT_EQ(d.nearestVisibleRow(i), -1);
    EXPECT_EQ(d.doubleClick(i), 0);
    EXPECT_TRUE(d.getData(i)->empty());
  }
  EXPECT_EQ(d.genRowDecode(-1), "Error - row -1");
  EXPECT_EQ(d.genRowDecode(0), "Error - row 0");

  // Resets show, root SOFs hide: R S S x S S R S x S R.
  auto R = [] { return std::make_shared<Treset>(); };
  auto S = [] { return pkt<Tsof>(PID_SOF); };
  show(host, {R(), S(), S(), S(), S(), S(), R(), S(), S(), S(), R()});
  EXPECT_EQ(d.nearestVisibleRow(3), 0);  // 3 before, 3 after: the earlier row
  EXPECT_EQ(d.nearestVisibleRow(4), 6);  // 4 before, 2 after
  EXPECT_EQ(d.nearestVisibleRow(8), 6);  // 2 and 2
  EXPECT_EQ(d.nearestVisibleRow(9), 10);
  EXPECT_EQ(d.prevVisibleRow(0), -1);
  EXPECT_EQ(d.nextVisibleRow(d.rowCount() - 1), -1);

  // A transaction whose child handles lead nowhere: nothing outside the list is touched.
  auto lin = std::make_shared<TlinVec>();
  auto bad = trx(TRX_IN, {pkt<Ttoken>(PID_IN), pkt<Thandshake>(PID_NAK)});
  bad->children[0]->handle = 99, bad->children[1]->handle = -5;
  bad->children[0]->parent = 1;
  lin->emplace_back(std::make_shared<Treset>(), 0);
  lin->emplace_back(bad, 0);
  lin->emplace_back(bad->children[0], LR_PACKET);
  ASSERT_EQ(d.adopt(lin, nullptr), 3u);
  EXPECT_FALSE(d.isVisible(1));
  EXPECT_TRUE(d.isVisible(2));  // not marked: its handle does not lead back to it
  EXPECT_EQ(d.doubleClick(1), 1);
  EXPECT_FALSE(d.userFlag(2));
}

TEST(DisplData, DoubleClickFlipsEveryLeafBelowAGroup) {
  TdisplHost host;
  show(host, everyKind());
  TdisplData& d = host.data;
  const TlinVec& rows = *d.linRows();
  const int transfer = 9;
  ASSERT_EQ(rows[transfer].row->kind, RK_TRANSFER);
  auto flagged = [&] {
    std::vector<int> out;
    for (int i = 0; i < d.rowCount(); ++i)
      if (d.userFlag(i)) out.push_back(i);
    return out;
  };
  EXPECT_EQ(d.doubleClick(transfer), 1);
  // the packets of its four transactions, not the transactions themselves
  EXPECT_EQ(flagged(), (std::vector<int>{11, 12, 13, 15, 16, 18, 19, 20, 22, 23, 24}));
  const uint8_t before = rows[12].flags;
  EXPECT_EQ(d.doubleClick(12), 1);  // a data packet: nothing changes
  EXPECT_EQ(rows[12].flags, before);
  EXPECT_EQ(d.doubleClick(transfer), 1);
  EXPECT_TRUE(flagged().empty());
  EXPECT_EQ(d.doubleClick(1), 1);  // an SOF group flags its SOFs
  EXPECT_EQ(flagged(), (std::vector<int>{2, 3, 4}));
}

TEST(DisplData, BytesOfEachRow) {
  TdisplHost host;
  show(host, everyKind());
  TdisplData& d = host.data;
  EXPECT_TRUE(d.getData(0)->empty());                                 // reset
  EXPECT_EQ(*d.getData(12), (TbyteVec{0x80, 6, 0, 1, 0, 0, 18, 0}));  // data packet
  EXPECT_EQ(*d.getData(17), (TbyteVec{1, 2, 3}));                     // transaction: its data packet
  EXPECT_TRUE(d.getData(5)->empty());                                 // token and NAK only
  EXPECT_EQ(*d.getData(9), (TbyteVec{1, 2, 3}));                      // transfer: its data stage
  EXPECT_TRUE(d.getData(d.rowCount())->empty());
}

// ---- files and topic 8 ----

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qx_displ_" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  static std::string lines(const TdisplData& d) {
    std::string all;
    for (const TlinRow& r : *d.linRows()) all += rowutils::toString(r.row);
    return all;
  }
  static std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::path dir;
};

TEST_F(Files, SaveOnTopic8AndReadBack) {
  TdisplHost source;
  show(source, everyKind());
  const std::string path = (dir / "rows.vkd").string();
  _G.pub(TOPIC_FILE_SAVE, reinterpret_cast<long>(path.c_str()));
  ASSERT_TRUE(fs::exists(path));

  TdisplHost target;
  show(target, {std::make_shared<Treset>()});
  const TlinVecPtr old = target.data.linRows();
  EXPECT_EQ(target.data.sampleFileRead((dir / "missing.vkd").string()), 0u);
  std::ofstream(dir / "empty.vkd") << "VARNOKE.0\n";
  EXPECT_EQ(target.data.sampleFileRead((dir / "empty.vkd").string()), 0u);
  EXPECT_EQ(target.data.linRows(), old);  // kept

  EXPECT_EQ(target.data.sampleFileRead(path), static_cast<unsigned>(source.data.rowCount()));
  EXPECT_EQ(lines(target.data), lines(source.data));
  EXPECT_EQ(target.data.treeRoots()->size(), everyKind().size());
}

TEST_F(Files, FailedSaveGivesTheReasonAndKeepsTheOldFile) {
  TdisplHost host;
  show(host, everyKind());
  std::string reason;
  EXPECT_EQ(host.data.sampleFileSave((dir / "no" / "such.vkd").string(), reason), 0u);
  EXPECT_EQ(reason, "No such file or directory");
  fs::create_directories(dir / "taken");
  EXPECT_EQ(host.data.sampleFileSave((dir / "taken").string(), reason), 0u);
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(fs::is_directory(dir / "taken"));
  // Without a running toolkit the failure goes to standard error.
  const std::string bad = (dir / "no" / "such.vkd").string();
  testing::internal::CaptureStderr();
  EXPECT_EQ(host.data.onSampleFileSave(reinterpret_cast<long>(bad.c_str())), 0u);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("could not be saved to " + bad), std::string::npos);
  EXPECT_EQ(host.data.onSampleFileSave(0), 0u);
}

// What standard error got while fn ran.
std::string said(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

TEST_F(Files, UnreadableFilesAreSaidAndTheRowsKept) {
  TdisplHost host;
  show(host, everyKind());
  const TlinVecPtr shown = host.data.linRows();
  auto put = [this](const char* name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return (dir / name).string();
  };
  fs::create_directories(dir / "folder.vkd");
  const std::pair<std::string, std::string> cases[] = {
      {put("notes.txt", "Some notes, not a capture.\n"), "it is not a sample-data file"},
      {put("empty.vkd", ""), "the file is empty"},
      {(dir / "folder.vkd").string(), "Is a directory"},
      {put("head.vkd", "VKFMT01\n12x\n0;TI:1\n"), "it is not a sample-data file"},
      {put("dropped.vkd", "VKFMT01\n0\n3;H:2;TI:1;TL:0\n"), "it holds no rows"},
  };
  auto message = [](const std::string& path, const std::string& reason) {
    return "The sample data could not be read from " + path + ": " + reason + ".\nThe data shown before is kept.\n";
  };
  for (const auto& [path, reason] : cases) {
    const std::string& file = path;  // a structured binding cannot be captured in C++17
    EXPECT_EQ(said([&] { EXPECT_EQ(host.data.sampleFileRead(file), 0u); }), message(path, reason));
    EXPECT_EQ(host.data.linRows(), shown);
  }
  // Root reads any file, so this one is read as an ordinary user.
  const std::string locked = put("locked.vkd", "VKFMT01\n0\n");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  EXPECT_EQ(qxtest::asOrdinaryUser([&] {
              const std::string words = said([&] { host.data.sampleFileRead(locked); });
              return words == message(locked, "Permission denied") && host.data.linRows() == shown ? 1 : 0;
            }),
            1);
  // Nothing by that name says nothing: the default sample file is optional.
  EXPECT_EQ(said([&] { host.data.sampleFileRead((dir / "missing.vkd").string()); }), "");
}

// A file whose gzip check fails is adopted with every row it gave, in words
// that say those rows may be wrong; one that gave none keeps the rows shown.
TEST_F(Files, DamagedFileIsSaidAsDamaged) {
  TdisplHost source;
  show(source, everyKind());
  const std::string path = (dir / "rows.vkd").string(), head = (dir / "head.vkd").string();
  ASSERT_GT(source.data.onSampleFileSave(reinterpret_cast<long>(path.c_str())), 0u);
  TdataIO().saveLinearToFile(std::make_shared<TlinVec>(), head);
  for (const std::string& file : {path, head}) {
    std::string bytes = fileBytes(file);
    bytes[bytes.size() - 8] ^= 1;  // in the CRC32 of the gzip trailer
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  TdisplHost host;
  const std::string rows = std::to_string(source.data.rowCount());
  EXPECT_EQ(said([&] { EXPECT_EQ(host.data.sampleFileRead(path), static_cast<unsigned>(source.data.rowCount())); }),
            "The sample data in " + path + " is damaged: it fails its check, so the " + rows +
                " rows read from it may hold wrong lines.\n");
  EXPECT_EQ(lines(host.data), lines(source.data));
  const TlinVecPtr shown = host.data.linRows();
  EXPECT_EQ(said([&] { EXPECT_EQ(host.data.sampleFileRead(head), 0u); }),
            "The sample data could not be read from " + head +
                ": it is damaged and fails its check.\nThe data shown before is kept.\n");
  EXPECT_EQ(host.data.linRows(), shown);
}

// Memory running out anywhere in a load frees what it built and keeps the rows.
TEST_F(Files, OutOfMemoryKeepsTheRowsAndSaysSo) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  TdisplHost source;
  show(source, everyKind());
  const std::string path = (dir / "rows.vkd").string();
  ASSERT_GT(source.data.onSampleFileSave(reinterpret_cast<long>(path.c_str())), 0u);
  TdisplHost host;
  show(host, {std::make_shared<Treset>()});
  const TlinVecPtr shown = host.data.linRows();

  TdisplHost counting;
  qxalloc::arm(1L << 40);
  const unsigned full = counting.data.sampleFileRead(path);
  qxalloc::disarm();
  ASSERT_GT(full, 0u);
  const long total = qxalloc::seen();
  for (long failAt : {0L, total / 3, total / 2, total - 1}) {
    const std::string words = said([&] {
      qxalloc::arm(failAt, 1);
      EXPECT_EQ(host.data.sampleFileRead(path), 0u);
      qxalloc::disarm();
    });
    EXPECT_EQ(host.data.linRows(), shown) << failAt;
    EXPECT_EQ(words,
              "There is not enough memory to read the sample data in " + path + ".\nThe data shown before is kept.\n");
  }
}

// Memory running out in a save keeps the earlier file, leaves no temporary,
// and says so; "left as it was" only where there was a file.
TEST_F(Files, SaveOutOfMemoryKeepsTheFileAndSaysSo) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  TdisplHost host;
  show(host, everyKind());
  const std::string kept = (dir / "kept.vkd").string();
  ASSERT_GT(host.data.onSampleFileSave(reinterpret_cast<long>(kept.c_str())), 0u);
  qxalloc::arm(1L << 40);
  ASSERT_GT(host.data.onSampleFileSave(reinterpret_cast<long>(kept.c_str())), 0u);
  qxalloc::disarm();
  const long total = qxalloc::seen();
  const std::string before = fileBytes(kept);
  const std::string fresh = (dir / "fresh.vkd").string();
  for (const std::string& path : {kept, fresh}) {
    for (long failAt : {total / 3, total / 2, total - 1}) {
      const std::string words = said([&] {
        qxalloc::arm(failAt, 1);
        EXPECT_EQ(host.data.onSampleFileSave(reinterpret_cast<long>(path.c_str())), 0u);
        qxalloc::disarm();
      });
      EXPECT_EQ(words, "There is not enough memory to save the sample data to " + path + "." +
                           (path == kept ? "\nAn earlier file of that name is left as it was.\n" : "\n"))
          << failAt;
      EXPECT_EQ(fileBytes(kept), before) << failAt;
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << failAt;
    }
  }
}

// A failed save says why, and says that an earlier file is kept only where there was one.
TEST_F(Files, SaveMessagesSayOnlyWhatHappened) {
  TdisplHost host;
  show(host, everyKind());
  auto save = [&](const std::string& path) {
    return said([&] { EXPECT_EQ(host.data.onSampleFileSave(reinterpret_cast<long>(path.c_str())), 0u); });
  };
  const std::string lost = (dir / "no" / "such.vkd").string();
  EXPECT_EQ(save(lost), "The sample data could not be saved to " + lost + ": No such file or directory.\n");

  // A writable file in a folder closed for writing.
  const std::string kept = (dir / "kept.vkd").string();
  ASSERT_GT(host.data.onSampleFileSave(reinterpret_cast<long>(kept.c_str())), 0u);
  ASSERT_TRUE(qxtest::ownAsOrdinaryUser(kept));
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const std::string expected = "The sample data could not be saved to " + kept +
                               ": its folder may not be written to, so the file cannot be replaced safely.\n"
                               "An earlier file of that name is left as it was.\n";
  const int saidAsExpected = qxtest::asOrdinaryUser([&] { return save(kept) == expected ? 1 : 0; });
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(saidAsExpected, 1) << expected;
}

// With no rows, a save that writes no file says so as one with rows does; one
// that writes its file of no rows says nothing.
TEST_F(Files, EmptySaveSaysWhenNoFileIsWritten) {
  TdisplHost host;
  ASSERT_EQ(host.data.rowCount(), 0);
  auto save = [&](const std::string& path) {
    return said([&] { EXPECT_EQ(host.data.onSampleFileSave(reinterpret_cast<long>(path.c_str())), 0u); });
  };
  fs::create_directories(dir / "taken");
  const std::string lost = (dir / "no" / "such.vkd").string();
  const std::string taken = (dir / "taken").string();
  const std::string fresh = (dir / "fresh.vkd").string();
  EXPECT_EQ(save(lost), "The sample data could not be saved to " + lost + ": No such file or directory.\n");
  EXPECT_EQ(save(taken), "The sample data could not be saved to " + taken + ": Is a directory.\n");
  EXPECT_EQ(save(""), "The sample data could not be saved to : No such file or directory.\n");
  EXPECT_EQ(save(fresh), "");
  EXPECT_TRUE(fs::exists(fresh));

  const std::string locked = (dir / "locked.vkd").string();
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  const std::string expected = "The sample data could not be saved to " + locked + ": Permission denied.\n";
  const int saidAsExpected = qxtest::asOrdinaryUser([&] { return save(locked) == expected ? 1 : 0; });
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(saidAsExpected, 1) << expected;
  EXPECT_FALSE(fs::exists(locked));
}

// ---- the script host ----

class ScriptHost : public Files {
 protected:
  std::string script(const std::string& name, const std::string& code) {
    const std::string path = (dir / name).string();
    std::ofstream(path) << code;
    return path;
  }
};

TEST_F(ScriptHost, GetNodeTakesAnyArgument) {
  TdisplHost host;
  show(host, everyKind());
  const int n = host.data.rowCount();
  ASSERT_EQ(host.run(R"(
    function probe(...)
      local t = getNode(...)
      if type(t) ~= "table" then return tostring(t) end
      return t.type .. "@" .. t.handle
    end)"),
            "");
  struct Case {
    std::string args;
    std::string want;
  };
  const Case cases[] = {
      {"2.7", "sof@2"},
      {"'2'", "sof@2"},
      {"' 4.9 '", "sof@4"},
      {"'abc'", "reset@0"},
      {"{}", "reset@0"},
      {"", "reset@0"},
      {"nil", "reset@0"},
      {"1, 5", "transaction@5"},
      {"-0.5", "nil"},
      {"0/0", "nil"},
      {"1/0", "nil"},
      {"-1/0", "nil"},
      {"1e300", "nil"},
      {"math.maxinteger", "nil"},
      {std::to_string(n), "nil"},
      {std::to_string(n - 1), "reset@" + std::to_string(n - 1)},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(host.run("result = probe(" + c.args + ")"), "") << c.args;
    lua_getglobal(host.L, "result");
    EXPECT_EQ(lua_tostring(host.L, -1), c.want) << c.args;
    lua_pop(host.L, 1);
    EXPECT_EQ(lua_gettop(host.L), 0);
  }
  // From a coroutine, many tables at once: pushed on the coroutine's own stack.
  ASSERT_EQ(host.run(R"(
    local co = coroutine.wrap(function()
      local kept = {}
      for i = 1, 5000 do kept[i] = getNode(i % 3) end
      coroutine.yield(#kept)
      return kept[4999].type
    end)
    count, last = co(), co())"),
            "");
  lua_getglobal(host.L, "count");
  lua_getglobal(host.L, "last");
  EXPECT_EQ(lua_gettop(host.L), 2);  // nothing was left on the main state
  EXPECT_EQ(lua_tointeger(host.L, -2), 5000);
  EXPECT_STREQ(lua_tostring(host.L, -1), "sofgroup");
  lua_settop(host.L, 0);
}

TEST_F(ScriptHost, StartUpMyAddAndGlobalsBetweenCalls) {
  const std::string path = script("ok.lua", R"(
    getNodeAtStart = type(getNode)
    function myAdd(a, b) added = {a, b, math.type(a)} return a + b end
    function reset_decode(t) calls = (calls or 0) + 1 return "Scall " .. calls end
  )");
  TdisplHost host(path.c_str());
  EXPECT_EQ(host.data.scriptError(), "");
  EXPECT_EQ(host.run("assert(added[1] == 30 and added[2] == 12 and added[3] == 'float')"), "");
  EXPECT_EQ(host.run("assert(getNodeAtStart == 'nil' and type(getNode) == 'function')"), "");
  show(host, {std::make_shared<Treset>(), sofs(2)});
  EXPECT_EQ(host.data.genRowDecode(0), "Scall 1");
  EXPECT_EQ(host.data.genRowDecode(0), "Scall 2");
  EXPECT_EQ(host.data.genRowDecode(1), "SAn uninterrupted sequence of 2 SOF (Start Of Frame) packets");
  EXPECT_EQ(host.data.genRowDecode(host.data.rowCount()), "Error - row " + std::to_string(host.data.rowCount()));

  // A failing myAdd is reported but is no load failure.
  testing::internal::CaptureStderr();
  TdisplHost failing(script("add.lua", "function myAdd() error('add broke') end").c_str());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Error: "), std::string::npos);
  EXPECT_EQ(failing.data.scriptError(), "");
}

TEST_F(ScriptHost, BrokenOrMissingScriptsAreReported) {
  const std::string broken = script("broken.lua", "function token_decode(t) return 'Sok' end\nerror('stop here')");
  const std::string missing = (dir / "missing.lua").string();
  for (const std::string& path : {broken, missing}) {
    testing::internal::CaptureStderr();
    TdisplHost host(path.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Error: ", 0), 0u) << err;
    EXPECT_FALSE(host.data.scriptError().empty());
    show(host, {sofs(1), pkt<Ttoken>(PID_IN), std::make_shared<Treset>()});
    // The SOF group's built-in text needs no script; script rows say why they lack theirs.
    EXPECT_EQ(host.data.genRowDecode(0), "SAn uninterrupted sequence of 1 SOF (Start Of Frame) packets");
    for (int ix : {2, 3}) {
      const std::string text = host.data.genRowDecode(ix);
      const std::string first = text.substr(0, text.find(';'));
      EXPECT_EQ(first.rfind("SThe decode scripts failed to load", 0), 0u) << text;
      EXPECT_NE(first.find(path == broken ? "broken.lua" : "missing.lua"), std::string::npos) << text;
    }
    // What the file defined before its error stays.
    if (path == broken) {
      EXPECT_NE(host.data.genRowDecode(2).find(";Sok"), std::string::npos);
    }
    EXPECT_EQ(lua_gettop(host.L), 0);
  }
}

}  // namespace
