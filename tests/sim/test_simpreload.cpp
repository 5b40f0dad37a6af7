// The preloadable simulator in front of the real libusb: a program linked to libusb
// runs unchanged against the boards that the environment describes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Trun {
  std::string out;
  int status = -1;
};

Trun runWith(const std::string& env, const std::string& program) {
  Trun r;
  // A clean KELVOSIM_* environment; the preloaded library precedes any sanitizer runtime.
  const std::string cmd =
      "env -u KELVOSIM_DEVICES -u KELVOSIM_FAULTS -u KELVOSIM_CAPTURE -u KELVOSIM_TRAFFIC -u KELVOSIM_LOG "
      "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" KELVOSIM_SO " " +
      env + " " + program;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

struct Tcase {
  const char* env;
  const char* out;
};

}  // namespace

TEST(SimPreload, RealProgramSeesTheSimulatedBoards) {
  const std::vector<Tcase> table = {
      {"KELVOSIM_DEVICES='other,vid=0x1d6b,pid=2;board,idcode=0x012BA043,serial=PRELOAD1'",
       "2 devices\n1d6b:0002\n10c4:8c57\nserial=PRELOAD1 version=0103 idcode=012ba043\n"},
      {"KELVOSIM_DEVICES=''", "0 devices\nno board\n"},
      {"", "1 devices\n10c4:8c57\nserial=KV000001 version=0103 idcode=012b9043\n"},
  };
  for (const Tcase& t : table) {
    SCOPED_TRACE(t.env);
    const Trun r = runWith(t.env, SIMPROBE_PATH);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, t.out);
  }
}

TEST(SimPreload, EnvironmentFaultsAndLogFile) {
  const std::string log = ::testing::TempDir() + "kelvosim_preload.log";
  const Trun r =
      runWith("KELVOSIM_DEVICES=board KELVOSIM_LOG=" + log + " KELVOSIM_FAULTS='xfer=bulkin,short=2'", SIMPROBE_PATH);
  EXPECT_EQ(r.status, 5);  // the short IDCODE reply
  FILE* f = std::fopen(log.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::string text;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  std::remove(log.c_str());
  EXPECT_NE(text.find("C 0 40 25 0000 0000 2 2 : 00 02\n"), std::string::npos);
  EXPECT_NE(text.find("B 0 01 16 0 16 : 00 00 02 00 08 00 00 00 e0 00 00 00 00 00 00 00\n"), std::string::npos);
  EXPECT_NE(text.find("B 0 82 8 0 6 : ff ff ff ff 01 2b\n"), std::string::npos);
  const Trun bad = runWith("KELVOSIM_DEVICES='gadget' KELVOSIM_CAPTURE=/nonexistent", SIMPROBE_PATH);
  EXPECT_EQ(bad.out, "0 devices\nno board\n");  // warnings go to stderr, the program still runs
}
