// The built-in bus traffic, decoded here from its raw coding with a reader of our
// own: a reset, SOFs every millisecond, the enumeration's control transfers with good
// CRCs, then interrupt IN polling.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kelvosim.h"

namespace {

using Tbytes = std::vector<uint8_t>;

struct Trun {
  int state;  // 0 SE0, 1 K, 2 J, 3 SE1
  uint64_t start, len;
};

// Runs in time order, neighbours of the same state joined.
std::vector<Trun> runs(const Tbytes& s) {
  std::vector<Trun> out;
  uint64_t t = 0;
  auto push = [&](int st, uint64_t n) {
    if (!out.empty() && out.back().state == st)
      out.back().len += n;
    else
      out.push_back({st, t, n});
    t += n;
  };
  for (size_t i = 0; i < s.size();) {
    const uint8_t b = s[i++];
    if (b & 0x80) continue;
    uint32_t count = 0, weight = 1;
    while (i < s.size() && ((s[i] & 0xC0) == 0x80 || (s[i] & 0xE0) == 0xC0)) {
      if ((s[i] & 0xC0) == 0x80) weight = 1;
      count += (s[i] & ((s[i] & 0xC0) == 0x80 ? 0x3F : 0x1F)) * weight;
      weight *= 64;
      ++i;
    }
    const int n = (b & 0x40) ? 3 : 6;
    for (int k = n - 1; k >= 0; --k) {
      const int st = (b & 0x40) ? (b >> (2 * k)) & 3 : ((b >> k) & 1) ? 2 : 1;
      push(st, 1 + (k == 0 ? count : 0));
    }
  }
  return out;
}

struct Tpacket {
  uint64_t start;
  Tbytes bytes;
};

// NRZI decoding and unstuffing of every packet between idle and its end of packet.
void packets(const std::vector<Trun>& r, std::vector<Tpacket>& out, std::vector<Trun>& resets) {
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i].state == 0 && r[i].len > 1000) resets.push_back(r[i]);
    if (r[i].state != 1 || i == 0 || r[i - 1].state != 2) continue;
    std::vector<int> bits;
    size_t j = i;
    for (; j < r.size() && (r[j].state == 1 || r[j].state == 2); ++j) {
      bits.push_back(0);
      for (uint64_t k = 1; k < r[j].len && k < 8; ++k) bits.push_back(1);
    }
    std::vector<int> clean;
    int ones = 0;
    for (int b : bits) {
      if (ones == 6) {  // a stuffed zero
        ones = 0;
        continue;
      }
      ones = b ? ones + 1 : 0;
      clean.push_back(b);
    }
    Tpacket p{r[i].start, {}};
    for (size_t k = 8; k + 8 <= clean.size(); k += 8) {
      uint8_t v = 0;
      for (int q = 0; q < 8; ++q) v |= static_cast<uint8_t>(clean[k + q] << q);
      p.bytes.push_back(v);
    }
    if (clean.size() >= 8) out.push_back(p);
    i = j;
  }
}

unsigned crc5(unsigned field) {
  unsigned crc = 0x1F;
  for (int i = 0; i < 11; ++i) {
    const unsigned bit = (field >> i) & 1;
    crc = ((crc ^ bit) & 1) ? (crc >> 1) ^ 0x14 : crc >> 1;
  }
  return ~crc & 0x1F;
}

bool crc16ok(const Tbytes& b) {
  unsigned crc = 0xFFFF;
  for (size_t i = 1; i < b.size(); ++i) {
    crc ^= b[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc == 0xB001;
}

}  // namespace

TEST(SimScenario, EnumerationThenPollingWithGoodPackets) {
  const Tbytes s = kelvosim::scenarioStream();
  ASSERT_GT(s.size(), 131072u);  // more than a capture holds
  const std::vector<Trun> r = runs(s);
  std::vector<Tpacket> p;
  std::vector<Trun> resets;
  packets(r, p, resets);
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_GE(resets[0].len, 120000u);
  ASSERT_GT(p.size(), 1000u);

  std::vector<uint64_t> sofStarts;
  std::vector<unsigned> sofFrames;
  std::vector<Tbytes> setups;
  Tbytes descriptor;
  unsigned nak = 0, stall = 0, reports = 0;
  int lastReportPid = -1;
  bool toggleOk = true;
  for (size_t i = 0; i < p.size(); ++i) {
    const Tbytes& b = p[i].bytes;
    ASSERT_FALSE(b.empty());
    const unsigned pid = b[0] & 0x0F;
    ASSERT_EQ(b[0] >> 4, (~pid) & 0x0F) << "packet " << i;
    if (pid == 0x5 || pid == 0x1 || pid == 0x9 || pid == 0xD) {  // SOF and tokens
      ASSERT_EQ(b.size(), 3u);
      const unsigned field = b[1] | (b[2] & 0x07) << 8;
      EXPECT_EQ(crc5(field), static_cast<unsigned>(b[2] >> 3)) << "packet " << i;
      if (pid == 0x5) {
        sofStarts.push_back(p[i].start);
        sofFrames.push_back(field);
      }
    } else if (pid == 0x3 || pid == 0xB) {  // DATA0, DATA1
      EXPECT_TRUE(crc16ok(b)) << "packet " << i;
      const Tbytes payload(b.begin() + 1, b.end() - 2);
      const unsigned tokenPid = p[i - 1].bytes[0] & 0x0F;
      const unsigned addr = p[i - 1].bytes[1] & 0x7F;
      if (tokenPid == 0xD) setups.push_back(payload);
      if (tokenPid == 0x9 && addr == 0 && setups.size() == 1)
        descriptor.insert(descriptor.end(), payload.begin(), payload.end());
      if (tokenPid == 0x9 && ((p[i - 1].bytes[1] >> 7) | (p[i - 1].bytes[2] & 7) << 1) == 1) {
        ++reports;
        if (lastReportPid == static_cast<int>(pid)) toggleOk = false;
        lastReportPid = static_cast<int>(pid);
      }
    } else if (pid == 0xA) {
      ++nak;
    } else if (pid == 0xE) {
      ++stall;
    }
  }
  ASSERT_GT(sofStarts.size(), 5000u);
  for (size_t i = 1; i < sofStarts.size(); ++i) {
    ASSERT_EQ(sofStarts[i] - sofStarts[i - 1], 12000u) << i;
    ASSERT_EQ(sofFrames[i], (sofFrames[i - 1] + 1) & 0x7FF) << i;
  }
  ASSERT_GE(setups.size(), 9u);
  EXPECT_EQ(setups[0], Tbytes({0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x00}));
  EXPECT_EQ(setups[1], Tbytes({0x00, 0x05, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(setups.back(), Tbytes({0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[0], 0x12);
  EXPECT_EQ(descriptor[1], 0x01);
  EXPECT_EQ(stall, 1u);
  EXPECT_GT(nak, 1000u);
  EXPECT_GT(reports, 100u);
  EXPECT_TRUE(toggleOk);
}
