// Build step: makes the run directory's default.vkd, the capture a new user
// sees at the first start. The simulated board records its enumeration
// scenario; the capture thread fetches a full memory from it exactly as the
// program's capture dialog does; the engine decodes it and saves the rows.
//   qx_mkdefault <output.vkd>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "kelvosim.h"
#include "vkdataio.h"
#include "vkexthrd.h"
#include "vklothrd.h"

namespace {

// One transfer covers a second of bus time, so the memory is full at the
// first poll; what it holds does not depend on the pace.
constexpr uint64_t FAST_TICKS_PER_TRANSFER = 12000000;
constexpr auto WAIT_LIMIT = std::chrono::seconds(30);

bool waitFor(const std::function<bool()>& cond) {
  const auto end = std::chrono::steady_clock::now() + WAIT_LIMIT;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int fail(const char* what) {
  std::fprintf(stderr, "qx_mkdefault: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qx_mkdefault <output.vkd>\n");
    return 2;
  }
  const std::string out = argv[1];

  // Built-in set-up only: KELVOSIM_* in the environment must not change the file.
  kelvosim::reset();
  kelvosim::setLogging(false);
  kelvosim::addDevice(kelvosim::boardConfig());
  kelvosim::setTrafficScenario();
  kelvosim::setTicksPerTransfer(FAST_TICKS_PER_TRANSFER);

  TexThread ex;
  uint64_t captured = 0;
  {
    TloThread lo;
    if (!waitFor([&] { return lo.getHardwareStatus() == HW_OK && lo.getThreadState() == LO_ARMED; }))
      return fail("the simulated board did not come up");
    lo.setNeeded(TloThread::CAPTURE_MEMORY);
    lo.setRun(true);
    if (!waitFor([&] { return lo.consumeDone(); })) return fail("the capture did not end");
    captured = lo.getCaptureCount();
    if (!ex.startDecode(lo.pRawData())) return fail("the decode did not run");
  }
  TdataIO io;
  const int written = io.saveLinearToFile(ex.pLinearRowVec(), out);
  if (written <= 0 || static_cast<size_t>(written) != ex.pLinearRowVec()->size()) {
    std::remove(out.c_str());
    return fail("the sample file could not be written");
  }
  std::printf("%s: %d display rows from %llu capture bytes\n", out.c_str(), written,
              static_cast<unsigned long long>(captured));
  return 0;
}
