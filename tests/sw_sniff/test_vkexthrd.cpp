// Decode-thread object: decodes on its own thread, progress and done flag,
// loading sample files into its vectors, and running out of memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "buswords.h"
#include "qxallocfail.h"
#include "rowbuild.h"
#include "vkdataio.h"
#include "vkexthrd.h"
#include "vkrowutils.h"

namespace {

using namespace rowbuild;
namespace fs = std::filesystem;

const char* const TRAFFIC =
    "R S S S SETUP5.0 D0/8 ACK IN5.0 NAK IN5.0 D1/18 ACK OUT5.0 D1/0 ACK S IN2.1 D0/64 ACK OUT2.1 ACK S S";
const char* const TRAFFIC_TREE =
    "R G[S S S] C[X:SETUP[SETUP5.0 D0/8 ACK] X:IN[IN5.0 NAK] X:IN[IN5.0 D1/18 ACK] X:OUT[OUT5.0 D1/0 ACK]] "
    "S X:IN[IN2.1 D0/64 ACK] X:OUT[OUT2.1] ACK G[S S]";

size_t treeSize(const TrowVec& rows) {
  size_t n = 0;
  for (const auto& row : rows) {
    ++n;
    if (auto g = std::dynamic_pointer_cast<Tgrouper>(row)) n += treeSize(g->children);
  }
  return n;
}

TEST(DecodeThread, FreshObjectIsIdleAndEmpty) {
  TexThread ex;
  EXPECT_FALSE(ex.getDone());
  EXPECT_EQ(ex.getDecodedCount(), 0u);
  EXPECT_TRUE(ex.pEventVec()->empty());
  EXPECT_TRUE(ex.pTreeRootVec()->empty());
  EXPECT_TRUE(ex.pLinearRowVec()->empty());
}

TEST(DecodeThread, DecodesCaptureIntoThreeVectors) {
  std::vector<uint8_t> raw = buswords::capture(TRAFFIC);
  TexThread ex;
  EXPECT_TRUE(ex.startDecode(&raw));
  EXPECT_TRUE(ex.getDone());
  EXPECT_EQ(ex.pEventVec()->size(), makeEvents(TRAFFIC).size());
  EXPECT_EQ(describeList(*ex.pTreeRootVec()), TRAFFIC_TREE);
  const TlinVec& rows = *ex.pLinearRowVec();
  ASSERT_EQ(rows.size(), treeSize(*ex.pTreeRootVec()));
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].row->handle, static_cast<int>(i));
  EXPECT_GT(ex.getDecodedCount(), 0u);
  EXPECT_LE(ex.getDecodedCount(), raw.size());
  // Every decoded row came out with a good CRC.
  for (const auto& row : *ex.pEventVec()) {
    if (auto d = std::dynamic_pointer_cast<Tdata>(row)) {
      EXPECT_TRUE(d->crcOK);
    } else if (auto t = std::dynamic_pointer_cast<Ttoken>(row)) {
      EXPECT_TRUE(t->crcOK);
    } else if (auto s = std::dynamic_pointer_cast<Tsof>(row)) {
      EXPECT_TRUE(s->crcOK);
    }
  }
}

TEST(DecodeThread, BuffersWithoutRowsDecodeToNothing) {
  std::vector<uint8_t> empty;
  std::vector<uint8_t> magicOnly = {'V', 'A', 'R', 'N', 'O', 'K', 'E', '.'};
  std::vector<uint8_t> badMagic = buswords::capture(TRAFFIC);
  badMagic[0] = 'W';
  for (std::vector<uint8_t>* raw : {&empty, &magicOnly, &badMagic, static_cast<std::vector<uint8_t>*>(nullptr)}) {
    TexThread ex;
    std::vector<uint8_t> good = buswords::capture("S S");
    ASSERT_TRUE(ex.startDecode(&good));
    ASSERT_FALSE(ex.pLinearRowVec()->empty());
    EXPECT_TRUE(ex.startDecode(raw));
    EXPECT_TRUE(ex.getDone());
    EXPECT_TRUE(ex.pEventVec()->empty());
    EXPECT_TRUE(ex.pTreeRootVec()->empty());
    EXPECT_TRUE(ex.pLinearRowVec()->empty());
    EXPECT_EQ(ex.getDecodedCount(), 0u);
  }
}

TEST(DecodeThread, SecondDecodeRefillsSameVectors) {
  std::vector<uint8_t> first = buswords::capture("S S S");
  std::vector<uint8_t> second = buswords::capture("IN1.1 NAK R");
  TexThread ex;
  ex.startDecode(&first);
  TlinVecPtr rows = ex.pLinearRowVec();
  TrowVecPtr events = ex.pEventVec();
  EXPECT_EQ(rows->size(), 4u);
  EXPECT_TRUE(ex.startDecode(&second));
  EXPECT_EQ(rows, ex.pLinearRowVec());
  EXPECT_EQ(describeList(*ex.pTreeRootVec()), "X:IN[IN1.1 NAK] R");
  EXPECT_EQ(rows->size(), 4u);
  EXPECT_EQ(rows->at(0).row->kind, RK_TRANSAX);
  EXPECT_EQ(events->size(), 3u);
  EXPECT_EQ(rows->at(3).row->number, 1u);  // numbering starts afresh
}

// The progress positions only grow and stay within the buffer.
TEST(DecodeThread, ProgressGrowsTowardsBufferSize) {
  std::string words;
  for (int i = 0; i < 2000; ++i) words += "S IN1.1 D0/64 ACK ";
  std::vector<uint8_t> raw = buswords::capture(words);

  std::vector<uint64_t> positions;
  auto events = std::make_shared<TrowVec>();
  TdataIO().rawDataToEventVec(raw, events, [&](uint64_t p) { positions.push_back(p); });
  ASSERT_GE(positions.size(), events->size());
  for (size_t i = 1; i < positions.size(); ++i) ASSERT_LE(positions[i - 1], positions[i]);
  EXPECT_LE(positions.back(), raw.size());
  EXPECT_GT(positions.back(), raw.size() * 9 / 10);
  EXPECT_LT(positions.front(), raw.size() / 100);

  // Seen from another thread while the decode runs.
  TexThread ex;
  std::atomic<bool> stop{false};
  std::vector<uint64_t> seen;
  std::thread watcher([&] {
    while (!stop.load()) {
      seen.push_back(ex.getDecodedCount());
      std::this_thread::yield();
    }
  });
  ex.startDecode(&raw);
  stop = true;
  watcher.join();
  for (size_t i = 1; i < seen.size(); ++i) ASSERT_LE(seen[i - 1], seen[i]);
  EXPECT_EQ(ex.getDecodedCount(), positions.back());
}

class SampleRead : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/qx_exthrd_XXXXXX";
    dir = mkdtemp(templ);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string dir;
};

TEST_F(SampleRead, LoadReplacesRowsButKeepsEvents) {
  std::vector<uint8_t> raw = buswords::capture(TRAFFIC);
  TexThread ex;
  ex.startDecode(&raw);
  const std::string path = dir + "/t.vkd";
  const int saved = TdataIO().saveLinearToFile(ex.pLinearRowVec(), path);
  ASSERT_EQ(saved, static_cast<int>(ex.pLinearRowVec()->size()));

  TexThread other;
  std::vector<uint8_t> small = buswords::capture("R S");
  other.startDecode(&small);
  TlinVecPtr before = other.pLinearRowVec();
  TrowVecPtr eventsBefore = other.pEventVec();
  std::string p = path;
  EXPECT_EQ(other.sampleFileRead(p), static_cast<uint64_t>(saved));
  EXPECT_NE(other.pLinearRowVec(), before);  // new vectors, old handles keep the old rows
  EXPECT_EQ(before->size(), 2u);
  EXPECT_EQ(other.pEventVec(), eventsBefore);
  EXPECT_EQ(eventsBefore->size(), 2u);
  EXPECT_EQ(describeList(*other.pTreeRootVec()), TRAFFIC_TREE);
  // The same display rows as the decode gave.
  const TlinVec& a = *ex.pLinearRowVec();
  const TlinVec& b = *other.pLinearRowVec();
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].flags, b[i].flags);
    EXPECT_EQ(a[i].row->parent, b[i].row->parent);
    EXPECT_EQ(a[i].row->number, b[i].row->number);
    EXPECT_EQ(a[i].row->tick, b[i].row->tick);
  }
}

TEST_F(SampleRead, NothingToLoadKeepsRows) {
  std::vector<uint8_t> raw = buswords::capture("R S S");
  TexThread ex;
  ex.startDecode(&raw);
  TlinVecPtr rows = ex.pLinearRowVec();
  std::ofstream(dir + "/empty.vkd") << "VKFMT01\n0\n";
  std::ofstream(dir + "/dropped.vkd") << "VKFMT01\n0\n3;H:2;TI:1;TL:0\n";
  for (std::string path : {dir + "/missing.vkd", dir + "/empty.vkd", dir + "/dropped.vkd", std::string()}) {
    EXPECT_EQ(ex.sampleFileRead(path), 0u) << path;
    EXPECT_EQ(ex.pLinearRowVec(), rows);
    EXPECT_EQ(rows->size(), 4u);
  }
}

// A load that runs out of memory anywhere returns 0, keeps the rows held
// before and leaves no file open.
TEST_F(SampleRead, OutOfMemoryKeepsRowsAndClosesTheFile) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  std::vector<uint8_t> raw = buswords::capture(TRAFFIC);
  TexThread ex;
  ex.startDecode(&raw);
  std::string path = dir + "/t.vkd";
  const int saved = TdataIO().saveLinearToFile(ex.pLinearRowVec(), path);
  const TlinVecPtr rows = ex.pLinearRowVec();
  auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
  const auto filesBefore = openFiles();

  TexThread fresh;
  qxalloc::arm(1L << 40);
  const uint64_t full = fresh.sampleFileRead(path);
  qxalloc::disarm();
  EXPECT_EQ(full, static_cast<uint64_t>(saved));
  const long total = qxalloc::seen();
  for (long failAt : {0L, 1L, total / 4, total / 2, total - 1}) {
    qxalloc::arm(failAt);
    const uint64_t result = ex.sampleFileRead(path);
    qxalloc::disarm();
    EXPECT_EQ(result, 0u) << failAt;
    EXPECT_EQ(ex.pLinearRowVec(), rows) << failAt;
    EXPECT_EQ(openFiles(), filesBefore) << failAt;
  }
}

// Decodes and loads on one thread; handles taken and rows read on another.
TEST_F(SampleRead, RowsAreReadableFromAnotherThreadDuringDecodes) {
  std::vector<uint8_t> raw = buswords::capture(TRAFFIC);
  TexThread ex;
  ex.startDecode(&raw);
  const size_t decoded = ex.pLinearRowVec()->size();
  std::string path = dir + "/small.vkd";
  ASSERT_EQ(TdataIO().saveLinearToFile(ex.pLinearRowVec(), path), static_cast<int>(decoded));
  std::vector<uint8_t> other = buswords::capture("R S S");
  std::atomic<bool> stop{false};
  std::atomic<size_t> reads{0};
  std::thread reader([&] {
    while (!stop.load()) {
      TlinVecPtr handle = ex.pLinearRowVec();
      TrowVecPtr roots = ex.pTreeRootVec();
      const size_t count = ex.linearRowCount();
      EXPECT_TRUE(count == 0 || count == 4 || count == decoded) << count;
      for (size_t i = 0; i <= count; ++i) {
        std::string text;
        if (ex.withLinearRow(i, [&](const TrowPtr& row) { text = rowutils::toString(row); })) {
          EXPECT_FALSE(text.empty());
          reads.fetch_add(1);
        }
      }
    }
  });
  for (int round = 0; round < 300; ++round) {
    ex.startDecode(round % 3 == 0 ? &other : &raw);
    if (round % 3 == 2) {
      EXPECT_EQ(ex.sampleFileRead(path), decoded);
    }
  }
  stop = true;
  reader.join();
  EXPECT_GT(reads.load(), 0u);
}

// Running out of memory anywhere in the decode leaves empty vectors and done.
TEST(DecodeThread, OutOfMemoryLeavesEmptyVectors) {
  if (!qxalloc::hooked()) GTEST_SKIP() << "no allocation hook under ThreadSanitizer";
  std::vector<uint8_t> raw = buswords::capture(TRAFFIC);
  // The decode thread runs out of memory, and nothing else does.
  const std::thread::id testThread = std::this_thread::get_id();

  TexThread ex;
  qxalloc::arm(1L << 40, LONG_MAX, testThread);
  ex.startDecode(&raw);
  qxalloc::disarm();
  const long total = qxalloc::seen();
  const size_t fullRows = ex.pLinearRowVec()->size();
  ASSERT_GT(total, 10);

  for (long failAt : {0L, 1L, total / 4, total / 2, total * 3 / 4, total - 2, total - 1}) {
    qxalloc::arm(failAt, LONG_MAX, testThread);
    const bool result = ex.startDecode(&raw);
    qxalloc::disarm();
    EXPECT_TRUE(result) << failAt;
    EXPECT_TRUE(ex.getDone()) << failAt;
    EXPECT_TRUE(ex.pEventVec()->empty()) << failAt;
    EXPECT_TRUE(ex.pTreeRootVec()->empty()) << failAt;
    EXPECT_TRUE(ex.pLinearRowVec()->empty()) << failAt;
  }
  EXPECT_TRUE(ex.startDecode(&raw));
  EXPECT_EQ(ex.pLinearRowVec()->size(), fullRows);
}

}  // namespace
