// Decode steps, flattening into display rows, and sample-data files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "buswords.h"
#include "qxcapture.h"
#include "qxfifo.h"
#include "qxkmsg.h"
#include "qxuser.h"
#include "rowbuild.h"
#include "vkdataio.h"
#include "vkexthrd.h"
#include "vkrawgrp.h"
#include "vkrowutils.h"

namespace fs = std::filesystem;

namespace {

using namespace rowbuild;

// "parent:flags:number" of each display row; also checks handle == index.
std::string displayText(const TlinVec& rows) {
  std::string text;
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].row->handle, static_cast<int>(i));
    char item[48];
    std::snprintf(item, sizeof item, "%s%d:%02x:%u", i ? " " : "", rows[i].row->parent, rows[i].flags,
                  rows[i].row->number);
    text += item;
  }
  return text;
}

TrowVecPtr groupEvents(const std::string& words) {
  auto events = std::make_shared<TrowVec>(makeEvents(words));
  auto roots = std::make_shared<TrowVec>();
  TdataIO().eventVecToTreeRootVec(events, roots);
  return roots;
}

struct FlattenCase {
  const char* name;
  const char* events;
  const char* display;
};

TEST(Flattening, NumbersParentsAndFlags) {
  const FlattenCase cases[] = {
      {"Empty", "", ""},
      {"SofGroupThenReset", "S S S R", "-1:05:1 0:05:1 0:05:2 0:05:3 -1:00:1"},
      {"ControlTransfer", "SETUP5.0 D0/8 ACK IN5.0 D1/8 ACK",
       "-1:00:1 0:00:1 1:04:1 1:04:2 1:04:3 0:00:2 5:04:4 5:04:5 5:04:6"},
      {"RootPacketsAreNumbered", "OUT1.1 ACK S R NAK", "-1:00:1 0:04:1 -1:04:2 -1:05:3 -1:00:1 -1:04:4"},
      // Packets are numbered in display order, not in capture order.
      {"TransferListsLaterTransactionsFirst", "SETUP5.0 D0/8 ACK S IN5.0 NAK",
       "-1:00:1 0:00:1 1:04:1 1:04:2 1:04:3 0:00:2 5:04:4 5:04:5 -1:05:6"},
  };
  for (const auto& c : cases) {
    auto rows = std::make_shared<TlinVec>();
    TdataIO().treeRootVecToLinVec(groupEvents(c.events), rows);
    EXPECT_EQ(displayText(*rows), c.display) << c.name;
  }
}

TEST(Flattening, RowsInheritTheirGroupsFlags) {
  // Shapes a file can give: a transaction inside an SOF group, an SOF in a transaction.
  auto group = std::make_shared<TsofGroup>();
  auto trx = std::make_shared<Ttransax>(TRX_IN);
  trx->children = makeEvents("IN1.1");
  group->children = {trx, makeEvents("S")[0]};
  auto trx2 = std::make_shared<Ttransax>(TRX_OUT);
  trx2->children = makeEvents("S");
  auto bare = std::make_shared<Tbase>();  // a row of no kind gets no entry
  auto roots = std::make_shared<TrowVec>(TrowVec{group, bare, trx2});
  auto rows = std::make_shared<TlinVec>();
  TdataIO().treeRootVecToLinVec(roots, rows);
  EXPECT_EQ(displayText(*rows), "-1:05:1 0:05:1 1:05:1 0:05:2 -1:00:2 4:05:3");
  EXPECT_EQ(bare->handle, 4);
  EXPECT_EQ(bare->parent, -1);
  EXPECT_EQ(bare->number, 6666u);
}

TEST(Flattening, NumberingContinuesOnOneObject) {
  auto roots = groupEvents("R OUT1.1 ACK");
  auto rows = std::make_shared<TlinVec>();
  TdataIO io;
  io.treeRootVecToLinVec(roots, rows);
  EXPECT_EQ(displayText(*rows), "-1:00:1 -1:00:1 1:04:1 -1:04:2");
  io.treeRootVecToLinVec(roots, rows);
  EXPECT_EQ(displayText(*rows), "-1:00:2 -1:00:2 1:04:3 -1:04:4");
  TdataIO().treeRootVecToLinVec(roots, rows);
  EXPECT_EQ(displayText(*rows), "-1:00:1 -1:00:1 1:04:1 -1:04:2");
}

TEST(DecodeSteps, EmptyInputGivesEmptyOutputs) {
  auto events = std::make_shared<TrowVec>(makeEvents("R S"));
  int calls = 0;
  TdataIO io;
  io.rawDataToEventVec({}, events, [&](uint64_t) { ++calls; });
  EXPECT_TRUE(events->empty());
  EXPECT_EQ(calls, 0);
  auto roots = std::make_shared<TrowVec>(makeEvents("R"));
  io.eventVecToTreeRootVec(events, roots);
  EXPECT_TRUE(roots->empty());
  auto rows = std::make_shared<TlinVec>();
  rows->emplace_back(makeEvents("R")[0], 0);
  io.treeRootVecToLinVec(roots, rows);
  EXPECT_TRUE(rows->empty());
}

// ---- sample-data files ----

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/qx_dataio_XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  size_t entries() const { return std::distance(fs::directory_iterator(path_), fs::directory_iterator()); }

 private:
  std::string path_;
};

std::string gunzipFile(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");
  std::string out;
  if (!f) return out;
  char buf[4096];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, n);
  gzclose(f);
  return out;
}

std::string rawFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TlinVecPtr flatten(const TrowVecPtr& roots) {
  auto rows = std::make_shared<TlinVec>();
  TdataIO().treeRootVecToLinVec(roots, rows);
  return rows;
}

TEST(SampleFile, SavedBytesAreTheFormat) {
  TempDir dir;
  auto rows = flatten(groupEvents("S S R"));
  const std::string path = dir.file("a.vkd");
  EXPECT_EQ(TdataIO().saveLinearToFile(rows, path), 4);
  const std::string raw = rawFile(path);
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(static_cast<uint8_t>(raw[0]), 0x1f);  // a gzip stream
  EXPECT_EQ(static_cast<uint8_t>(raw[1]), 0x8b);
  std::string body;
  for (const auto& r : *rows) body += rowutils::toString(r.row);
  EXPECT_EQ(gunzipFile(path), "VKFMT01\n" + std::to_string(body.size()) + "\n" + body);
  EXPECT_EQ(body.substr(0, 17), "0;G:SOFgroup;X:2\n");
  EXPECT_EQ(body.substr(17, 4), "  1;");
  EXPECT_EQ(dir.entries(), 1u);  // no temporary left behind
}

TEST(SampleFile, EmptyListSavesHeadOnly) {
  TempDir dir;
  const std::string path = dir.file("e.vkd");
  EXPECT_EQ(TdataIO().saveLinearToFile(std::make_shared<TlinVec>(), path), 0);
  EXPECT_EQ(gunzipFile(path), "VKFMT01\n0\n");
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(path, roots, rows), 0);
  EXPECT_TRUE(roots->empty());
  EXPECT_TRUE(rows->empty());
}

void expectSameCarriedFields(const TrowPtr& a, const TrowPtr& b) {
  ASSERT_EQ(a->kind, b->kind);
  EXPECT_EQ(a->level, b->level);
  const Tbase& other = *b;
  auto packet = [&other](const TpacketBase& x) {
    auto& y = static_cast<const TpacketBase&>(other);
    EXPECT_EQ(x.pid, y.pid);
    EXPECT_EQ(x.tick, y.tick);
    EXPECT_EQ(x.idle, y.idle);
  };
  auto group = [&other](const Tgrouper& x) {
    EXPECT_EQ(x.children.size(), static_cast<const Tgrouper&>(other).children.size());
  };
  visitRow(*a, Toverload{[&other](const Treset& x) {
                           auto& y = static_cast<const Treset&>(other);
                           EXPECT_EQ(x.tick, y.tick);
                           EXPECT_EQ(x.duration, y.duration);
                           EXPECT_EQ(x.idleTicks, y.idleTicks);
                         },
                         [&other, &packet](const Tsof& x) {
                           auto& y = static_cast<const Tsof&>(other);
                           packet(x);
                           EXPECT_EQ(x.frame, y.frame);
                           EXPECT_EQ(x.crc5, y.crc5);
                           EXPECT_EQ(x.crcOK, y.crcOK);
                         },
                         [&other, &packet](const Ttoken& x) {
                           auto& y = static_cast<const Ttoken&>(other);
                           packet(x);
                           EXPECT_EQ(x.addr, y.addr);
                           EXPECT_EQ(x.endp, y.endp);
                           EXPECT_EQ(x.crc5, y.crc5);
                           EXPECT_EQ(x.crcOK, y.crcOK);
                         },
                         [&other, &packet](const Tdata& x) {
                           auto& y = static_cast<const Tdata&>(other);
                           packet(x);
                           EXPECT_EQ(x.data, y.data);
                           EXPECT_EQ(x.crc16, y.crc16);
                           EXPECT_EQ(x.crcOK, y.crcOK);
                         },
                         [&packet](const Thandshake& x) { packet(x); },
                         [&other, &group](const Ttransax& x) {
                           // Undefined is written as OUT.
                           const TtrxType t = x.trxType;
                           EXPECT_EQ(t == TRX_UNDEFINED ? TRX_OUT : t, static_cast<const Ttransax&>(other).trxType);
                           group(x);
                         },
                         [&group](const Tgrouper& x) { group(x); }});
}

// Saves rows, loads them back and checks that the file gave the same list.
void expectRoundTrip(const TlinVecPtr& rows) {
  TempDir dir;
  const std::string path = dir.file("rt.vkd");
  const int saved = TdataIO().saveLinearToFile(rows, path);
  EXPECT_EQ(saved, static_cast<int>(rows->size()));
  auto roots = std::make_shared<TrowVec>();
  auto loaded = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(path, roots, loaded), saved);
  ASSERT_EQ(loaded->size(), rows->size());
  for (size_t i = 0; i < rows->size(); ++i) {
    SCOPED_TRACE(i);
    const TlinRow& a = (*rows)[i];
    const TlinRow& b = (*loaded)[i];
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.row->handle, b.row->handle);
    EXPECT_EQ(a.row->parent, b.row->parent);
    EXPECT_EQ(a.row->number, b.row->number);
    expectSameCarriedFields(a.row, b.row);
    if (b.row->parent < 0) {
      EXPECT_NE(std::find(roots->begin(), roots->end(), b.row), roots->end());
    }
  }
}

TEST(SampleFile, RoundTripOfGroupedRows) {
  TrowVec events = makeEvents(
      "R S S S SETUP5.0 D0/8 ACK IN5.0 NAK IN5.0 D1/18 ACK OUT5.0 D1/0 ACK S OUT2.1 D0/64 STALL IN3.2 D2/1 ACK R");
  std::mt19937 rng(7);
  for (auto& row : events) {
    row->tick = rng() * 1000ull;
    if (auto p = std::dynamic_pointer_cast<TpacketBase>(row)) p->idle = rng() % 5000;
    if (auto d = std::dynamic_pointer_cast<Tdata>(row)) {
      for (auto& b : d->data) b = static_cast<uint8_t>(rng());
      d->crc16 = static_cast<int>(rng() & 0xFFFF);
      d->crcOK = rng() & 1;
    }
    if (auto t = std::dynamic_pointer_cast<Ttoken>(row)) {
      t->crc5 = static_cast<int>(rng() & 31);
      t->crcOK = rng() & 1;
    }
    if (auto s = std::dynamic_pointer_cast<Tsof>(row)) {
      s->frame = static_cast<int>(rng() & 0x7FF);
      s->crc5 = static_cast<int>(rng() & 31);
      s->crcOK = rng() & 1;
    }
    if (auto r = std::dynamic_pointer_cast<Treset>(row)) {
      r->duration = rng();
      r->idleTicks = rng();
    }
  }
  events.front()->tick = 5000000000ull;
  events.back()->tick = MAX_TICK;
  auto ev = std::make_shared<TrowVec>(events);
  auto roots = std::make_shared<TrowVec>();
  TdataIO().eventVecToTreeRootVec(ev, roots);
  // An undefined transaction type is written and read back as OUT.
  auto odd = std::make_shared<Ttransax>();
  odd->children = makeEvents("OUT9.9");
  odd->children[0]->level = 1;
  roots->push_back(odd);
  expectRoundTrip(flatten(roots));
}

// Captures through the three decode steps, then through a file and back.
TEST(SampleFile, RoundTripOfDecodedCaptures) {
  std::vector<std::vector<uint8_t>> captures = {
      buswords::capture("R S S S SETUP5.0 D0/8 ACK IN5.0 NAK IN5.0 D1/18 ACK OUT5.0 D1/0 ACK S R"),
      buswords::capture("S IN2.1 D0/64 ACK OUT2.1 D1/64 NAK OUT2.1 D1/64 STALL IN3.1 D2/5 S S S S"),
      buswords::capture("SETUP1.0 D0/8 ACK OUT1.0 D1/3 ACK IN1.0 D1/0 ACK R R ACK NAK D0/0", 9),
  };
  // Bad CRCs, a long idle and a tick past 32 bits.
  captures.push_back(linegen::encodeCapture({
      linegen::idle(5),
      linegen::packet(linegen::tokenBytes(9, 3, 1, 0x4), 4),
      linegen::packet(linegen::dataBytes(3, {1, 2, 3}, 0x100), 6),
      linegen::handshake(2, 3000000000u),
      linegen::packet(linegen::sofBytes(2047, 1), 7),
      linegen::handshake(10, 3000000000u),
      linegen::reset(50, 9),
  }));
  for (size_t i = 0; i < captures.size(); ++i) {
    SCOPED_TRACE(i);
    auto events = std::make_shared<TrowVec>();
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    io.rawDataToEventVec(captures[i], events, nullptr);
    io.eventVecToTreeRootVec(events, roots);
    io.treeRootVecToLinVec(roots, rows);
    ASSERT_GT(rows->size(), 3u);
    expectRoundTrip(rows);
    if (i == 3) {  // the damaged capture really carries what it should
      int badCrc = 0;
      for (const auto& r : *events) {
        if (auto t = std::dynamic_pointer_cast<Ttoken>(r)) badCrc += !t->crcOK;
        if (auto d = std::dynamic_pointer_cast<Tdata>(r)) badCrc += !d->crcOK;
        if (auto f = std::dynamic_pointer_cast<Tsof>(r)) badCrc += !f->crcOK;
      }
      EXPECT_EQ(badCrc, 3);
      EXPECT_GT(events->back()->tick, 0xFFFFFFFFull);
    }
  }
}

// Random traffic: every packet lands once in the tree, and the file gives
// the same display list back.
TEST(SampleFile, RoundTripOfRandomTraffic) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    TrowVec packets = qxtest::randomRows(seed, 600);
    const std::vector<uint8_t> raw = qxtest::captureFromRows(packets);
    auto events = std::make_shared<TrowVec>();
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    io.rawDataToEventVec(raw, events, nullptr);
    io.eventVecToTreeRootVec(events, roots);
    io.treeRootVecToLinVec(roots, rows);
    ASSERT_EQ(events->size(), packets.size());
    EXPECT_EQ(countLeaves(*roots), events->size());
    EXPECT_GE(rows->size(), events->size());
    expectRoundTrip(rows);
  }
}

TEST(SampleFile, FailedLoadKeepsCallersVectors) {
  TempDir dir;
  for (const std::string& path : {dir.file("missing.vkd"), std::string(QX_TEST_DATA "/vkd/eight_bytes.vkd"),
                                  std::string(QX_TEST_DATA "/vkd/bad_length.vkd"),
                                  std::string(QX_TEST_DATA "/vkd/short.vkd"), std::string(""), dir.file("")}) {
    auto roots = std::make_shared<TrowVec>(makeEvents("R"));
    auto rows = std::make_shared<TlinVec>();
    rows->emplace_back(roots->front(), 0);
    EXPECT_EQ(TdataIO().loadLinearFile(path, roots, rows), 0) << path;
    EXPECT_EQ(roots->size(), 1u) << path;
    EXPECT_EQ(rows->size(), 1u) << path;
  }
}

TEST(SampleFile, UnwritablePathsSaveNothing) {
  TempDir dir;
  auto rows = flatten(groupEvents("S S R"));
  EXPECT_EQ(TdataIO().saveLinearToFile(rows, dir.file("no/such/folder/x.vkd")), 0);
  EXPECT_EQ(TdataIO().saveLinearToFile(rows, ""), 0);
  fs::create_directory(dir.file("sub"));
  EXPECT_EQ(TdataIO().saveLinearToFile(rows, dir.file("sub")), 0);  // a folder is no file
  EXPECT_EQ(TdataIO().saveLinearToFile(nullptr, dir.file("n.vkd")), 0);
  EXPECT_EQ(dir.entries(), 1u);  // only "sub"
}

// Replacing a file through a temporary keeps what a plain rewrite would keep:
// the link and the file it names, and the file's mode. A writable file in a
// folder that may not be written to cannot be replaced whole: the save is
// refused and the file keeps its bytes.
TEST(SampleFile, SaveKeepsLinksModesAndReadOnlyFolders) {
  TempDir dir;
  const std::string real = dir.file("real.vkd");
  const std::string link = dir.file("link.vkd");
  ASSERT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("S S R")), real), 4);
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  fs::create_symlink(real, link);

  ASSERT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("R")), link), 1);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(real, roots, rows), 1);
  EXPECT_EQ(dir.entries(), 2u);  // no temporary left behind

  // Folder closed for writing.
  const std::string folder = fs::path(real).parent_path();
  const std::string before = rawFile(real);
  ASSERT_TRUE(qxtest::ownAsOrdinaryUser(real));
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  auto twoRows = flatten(groupEvents("R R"));
  const int refused = qxtest::asOrdinaryUser([&] {
    TdataIO io;
    return io.saveLinearToFile(twoRows, real) == 0 && io.Ffault == TfileFault::folderLocked ? 1 : 0;
  });
  chmod(folder.c_str(), 0700);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(rawFile(real), before);
  EXPECT_EQ(dir.entries(), 2u);
}

// Only a regular file is replaced: a FIFO, a device node, or a link to one
// refuses the save and stays what it was; nothing blocks on the FIFO.
TEST(SampleFile, SaveRefusesWhatIsNoRegularFile) {
  TempDir dir;
  const std::string fifo = dir.file("fifo.vkd");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  fs::create_symlink(fifo, dir.file("tofifo.vkd"));
  // A copy of /dev/null needs root; otherwise a link to it stands in.
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  const std::string device = dir.file("null.vkd");
  if (geteuid() == 0)
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, null.st_rdev), 0);
  else
    fs::create_symlink("/dev/null", device);
  auto rows = flatten(groupEvents("S S R"));
  for (const std::string& path : {fifo, dir.file("tofifo.vkd"), device}) {
    TdataIO io;
    EXPECT_EQ(io.saveLinearToFile(rows, path), 0) << path;
    EXPECT_EQ(io.Ffault, TfileFault::notRegular) << path;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_EQ(dir.entries(), 3u);
}

// A load refuses the same at once, through the engine and through the decode
// object that the library loads with: a FIFO with no writer or with a silent
// one, a link to a FIFO, devices. The rows held before stay.
TEST(SampleFile, LoadRefusesWhatIsNoRegularFileAtOnce) {
  TempDir dir;
  qxtest::TfifoWatch idle(dir.file("idle.vkd"));
  qxtest::TfifoWatch held(dir.file("held.vkd"), true);
  fs::create_symlink(dir.file("idle.vkd"), dir.file("toidle.vkd"));
  fs::create_symlink("/dev/zero", dir.file("zero.vkd"));
  ASSERT_TRUE(fs::is_fifo(dir.file("idle.vkd")) && fs::is_fifo(dir.file("held.vkd")));
  TexThread ex;
  std::string saved = dir.file("saved.vkd");  // the decode object takes a non-const path
  ASSERT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("R")), saved), 1);
  ASSERT_EQ(ex.sampleFileRead(saved), 1u);
  for (std::string path : {dir.file("idle.vkd"), dir.file("held.vkd"), dir.file("toidle.vkd"), std::string("/dev/null"),
                           dir.file("zero.vkd")}) {
    auto roots = std::make_shared<TrowVec>(makeEvents("R"));
    auto rows = std::make_shared<TlinVec>();
    rows->emplace_back(roots->front(), 0);
    TdataIO io;
    EXPECT_EQ(io.loadLinearFile(path, roots, rows), 0) << path;
    EXPECT_EQ(io.Ffault, TfileFault::notRegular) << path;
    EXPECT_EQ(rows->size(), 1u) << path;
    EXPECT_EQ(ex.sampleFileRead(path), 0u) << path;
    EXPECT_EQ(ex.linearRowCount(), 1u) << path;
  }
  EXPECT_FALSE(idle.ranOut() || held.ranOut()) << "a load waited on a FIFO";
}

// /proc/kmsg stats as a regular file but waits for kernel messages: a load
// refuses it at once, for the reason a device gets, through the engine and
// through the decode object.
TEST(SampleFile, LoadRefusesKernelLogAtOnce) {
  qxtest::TkmsgWatch watch;
  if (!watch.usable()) GTEST_SKIP() << qxtest::KMSG << " cannot be opened here";
  TdataIO io;
  EXPECT_EQ(io.loadLinearFile(qxtest::KMSG, std::make_shared<TrowVec>(), std::make_shared<TlinVec>()), 0);
  EXPECT_EQ(io.Ffault, TfileFault::notRegular);
  std::string path = qxtest::KMSG;
  EXPECT_EQ(TexThread().sampleFileRead(path), 0u);
  EXPECT_FALSE(watch.ranOut()) << "a load waited on " << qxtest::KMSG;
}

// A save that runs out of room leaves the earlier file as it was.
TEST(SampleFile, FailedWriteKeepsEarlierFile) {
  TempDir dir;
  const std::string path = dir.file("keep.vkd");
  ASSERT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("S S R")), path), 4);
  const std::string before = rawFile(path);

  std::string words;
  for (int i = 0; i < 3000; ++i) words += "OUT1.1 D0/64 ACK ";
  TrowVec events = makeEvents(words);
  std::mt19937 rng(1);
  for (auto& row : events)
    if (auto d = std::dynamic_pointer_cast<Tdata>(row))
      for (auto& b : d->data) b = static_cast<uint8_t>(rng());
  auto big = std::make_shared<TrowVec>(events);
  auto roots = std::make_shared<TrowVec>();
  TdataIO().eventVecToTreeRootVec(big, roots);
  auto rows = flatten(roots);

  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = old;
  small.rlim_cur = 16 * 1024;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const int result = TdataIO().saveLinearToFile(rows, path);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(rawFile(path), before);
  EXPECT_EQ(dir.entries(), 1u);
}

// A file that breaks off keeps the rows before the break and says it is
// incomplete: gzip's error at a cut, or a body shorter than the head says.
TEST(SampleFile, CutOffFileKeepsRowsAndSaysSo) {
  TempDir dir;
  std::string words;
  for (int i = 0; i < 2000; ++i) words += "OUT1.1 D0/8 ACK S ";
  const std::string whole = dir.file("whole.vkd");
  const int saved = TdataIO().saveLinearToFile(flatten(groupEvents(words)), whole);
  const std::string packed = rawFile(whole);
  const std::string plain = gunzipFile(whole);
  std::ofstream(dir.file("cut.vkd"), std::ios::binary) << packed.substr(0, packed.size() / 2);
  // Uncompressed and cut at a line's end, so that only the head's length tells.
  std::ofstream(dir.file("plain.vkd"), std::ios::binary) << plain.substr(0, plain.rfind('\n', plain.size() / 2) + 1);
  // Cut in mid-line after a data packet's third byte, plain and as a whole gzip stream.
  const std::string midLine = plain.substr(0, plain.find("DA:", plain.size() / 2) + 11);
  std::ofstream(dir.file("midline.vkd"), std::ios::binary) << midLine;
  gzFile gz = gzopen(dir.file("midline.gz.vkd").c_str(), "wb");
  ASSERT_EQ(gzwrite(gz, midLine.data(), static_cast<unsigned>(midLine.size())), static_cast<int>(midLine.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
  for (const char* name : {"cut.vkd", "plain.vkd", "midline.vkd", "midline.gz.vkd", "whole.vkd"}) {
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    const int count = io.loadLinearFile(dir.file(name), roots, rows);
    const std::string got = gunzipFile(dir.file(name));
    // Every whole line gave its row; the one cut in two gave none.
    EXPECT_EQ(count, std::count(got.begin(), got.end(), '\n') - 2) << name;
    EXPECT_GT(count, 0) << name;
    EXPECT_EQ(rows->size(), static_cast<size_t>(count)) << name;
    EXPECT_EQ(io.Ffault, count == saved ? TfileFault::none : TfileFault::cutOff) << name;
  }
}

// A gzip file that fails its check (a flipped bit, a wrong CRC32 or length in
// its trailer) reads as damaged, and with only its trailer wrong keeps every
// row; one that ends early stays cut off with the whole rows before the break.
TEST(SampleFile, DamagedFileIsToldFromACutOffOne) {
  TempDir dir;
  std::string words;
  for (int i = 0; i < 2000; ++i) words += "OUT1.1 D0/8 ACK S ";
  const std::string path = dir.file("case.vkd");
  const int saved = TdataIO().saveLinearToFile(flatten(groupEvents(words)), path);
  const std::string packed = rawFile(path);
  auto flipped = [&packed](size_t at, int bit) {
    std::string bytes = packed;
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
    return bytes;
  };
  // The trailer's CRC32 and ISIZE first, then bits in the body and cuts.
  std::vector<std::pair<std::string, TfileFault>> cases = {{flipped(packed.size() - 8, 0), TfileFault::damaged},
                                                           {flipped(packed.size() - 1, 7), TfileFault::damaged},
                                                           {packed.substr(0, packed.size() - 3), TfileFault::cutOff}};
  for (int k = 1; k < 8; ++k) {
    cases.push_back({flipped(10 + (packed.size() - 18) * k / 8, k), TfileFault::damaged});
    cases.push_back({packed.substr(0, packed.size() * k / 8), TfileFault::cutOff});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << cases[i].first;
    auto roots = std::make_shared<TrowVec>();
    auto rows = std::make_shared<TlinVec>();
    TdataIO io;
    const int count = io.loadLinearFile(path, roots, rows);
    EXPECT_EQ(io.Ffault, cases[i].second) << i;
    if (i < 2) {
      EXPECT_EQ(count, saved) << i;  // only the trailer is wrong
    } else if (cases[i].second == TfileFault::cutOff) {
      const std::string got = gunzipFile(path);
      EXPECT_EQ(count, std::count(got.begin(), got.end(), '\n') - 2) << i;
    }
  }
}

// As zlib's gz reader: gzip members are read one after another, and bytes
// after the last one are not read.
TEST(SampleFile, GzipMembersFollowOneAnother) {
  TempDir dir;
  const std::string path = dir.file("members.vkd");
  const std::string parts[] = {"VKFMT01\n0\n0;Y:Reset;TI:7;RL:20;TL:3\n", "0;H:10;TI:70;TL:2\n"};
  for (const std::string& part : parts) {
    gzFile gz = gzopen(path.c_str(), "ab");
    ASSERT_EQ(gzwrite(gz, part.data(), static_cast<unsigned>(part.size())), static_cast<int>(part.size()));
    ASSERT_EQ(gzclose(gz), Z_OK);
  }
  std::ofstream(path, std::ios::binary | std::ios::app) << "0;H:2;TI:9;TL:1\n";
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  TdataIO io;
  EXPECT_EQ(io.loadLinearFile(path, roots, rows), 2);
  EXPECT_EQ(describeList(*roots), "R NAK");
  EXPECT_EQ(io.Ffault, TfileFault::none);
}

// Names at the file system's limit save, and a link that names no file yet
// is written through: the file it names is made and the link stays.
TEST(SampleFile, SaveTakesLongNamesAndDanglingLinks) {
  TempDir dir;
  const std::string longName = dir.file(std::string(249, 'n') + ".vkd");  // 253 bytes
  EXPECT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("S S R")), longName), 4);
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(longName, roots, rows), 4);

  fs::create_directory(dir.file("sub"));
  const std::string link = dir.file("dangling.vkd");
  fs::create_symlink("sub/target.vkd", link);  // relative to the link's folder
  ASSERT_FALSE(fs::exists(link));
  EXPECT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("R R")), link), 2);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(TdataIO().loadLinearFile(dir.file("sub/target.vkd"), roots, rows), 2);
  EXPECT_EQ(dir.entries(), 3u);  // the long name, "sub" and the link: no temporary left

  const std::string loop = dir.file("loop.vkd");
  fs::create_symlink("loop.vkd", loop);
  EXPECT_EQ(TdataIO().saveLinearToFile(flatten(groupEvents("R")), loop), 0);
  EXPECT_TRUE(fs::is_symlink(loop));
}

// A line longer than any real row is skipped whole, even when it would parse.
TEST(SampleFile, OverlongLinesAreSkipped) {
  TempDir dir;
  const std::string path = dir.file("long.vkd");
  TrowVec events = makeEvents("OUT1.1 D0/400000 R");
  const std::string huge = rowutils::toString(events[1]);
  ASSERT_GT(huge.size(), size_t(1) << 20);
  std::string bare = huge.substr(0, huge.size() - 1);
  ASSERT_TRUE(rowutils::fromString(bare)) << "the line is a good row but for its length";
  const std::string reset = rowutils::toString(events[2]);
  const std::string small = rowutils::toString(makeEvents("D0/8")[0]);
  std::ofstream(path, std::ios::binary) << "VKFMT01\n0\n"
                                        << huge << reset << huge << small << reset << bare;  // no final '\n'
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(path, roots, rows), 3);
  ASSERT_EQ(rows->size(), 3u);
  EXPECT_EQ(rows->at(0).row->kind, RK_RESET);
  EXPECT_EQ(rows->at(1).row->kind, RK_DATA);  // a short data line still loads
  EXPECT_EQ(rows->at(2).row->kind, RK_RESET);
}

// Deep nesting from a hostile file is cut off instead of overflowing the stack.
TEST(SampleFile, DeepNestingIsBounded) {
  TempDir dir;
  const std::string path = dir.file("deep.vkd");
  std::string text = "VKFMT01\n0\n";
  const int depth = 100000;
  for (int level = 0; level < depth; ++level) text += std::to_string(level) + ";G:SOFgroup\n";
  std::ofstream(path, std::ios::binary) << text;
  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(path, roots, rows), depth);
  ASSERT_EQ(roots->size(), 1u);
  EXPECT_EQ(rows->size(), 257u);  // levels 0 to 256
  EXPECT_EQ(rows->back().row->level, 256);
}

// Each tests/data/vkd/NAME.vkd loads into the display rows of NAME.expected:
// "count N", then "parent flags number|row text line" per display row.
class SampleFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(SampleFixture, LoadsExpectedRows) {
  const std::string base = std::string(QX_TEST_DATA) + "/vkd/" + GetParam();
  std::ifstream expected(base + ".expected");
  ASSERT_TRUE(expected) << base;
  std::string word;
  int count = -1;
  expected >> word >> count;
  ASSERT_EQ(word, "count");
  std::string want;
  std::string line;
  std::getline(expected, line);
  while (std::getline(expected, line)) want += line + "\n";

  auto roots = std::make_shared<TrowVec>();
  auto rows = std::make_shared<TlinVec>();
  EXPECT_EQ(TdataIO().loadLinearFile(base + ".vkd", roots, rows), count);
  std::string got;
  for (size_t i = 0; i < rows->size(); ++i) {
    const TlinRow& r = (*rows)[i];
    EXPECT_EQ(r.row->handle, static_cast<int>(i));
    char head[48];
    std::snprintf(head, sizeof head, "%d %02x %u|", r.row->parent, r.flags, r.row->number);
    got += head + rowutils::toString(r.row);
  }
  EXPECT_EQ(got, want);
}

std::vector<std::string> fixtureNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(std::string(QX_TEST_DATA) + "/vkd"))
    if (entry.path().extension() == ".vkd") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Files, SampleFixture, ::testing::ValuesIn(fixtureNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
