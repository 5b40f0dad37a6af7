#include "qxwords.h"

#include <sstream>

namespace qxtest {

namespace {

int handshakePid(const std::string& w) { return w == "ACK" ? PID_ACK : w == "NAK" ? PID_NAK : PID_STALL; }

int dataPid(char which) {
  return which == '0' ? PID_DATA0 : which == '1' ? PID_DATA1 : which == '2' ? PID_DATA2 : PID_MDATA;
}

int tokenPid(const std::string& name) { return name == "IN" ? PID_IN : name == "OUT" ? PID_OUT : PID_SETUP; }

TrowPtr wordRow(const std::string& w) {
  if (w == "R") return std::make_shared<Treset>();
  if (w == "S") {
    auto sof = std::make_shared<Tsof>();
    sof->pid = PID_SOF;
    return sof;
  }
  if (w == "ACK" || w == "NAK" || w == "STALL") {
    auto hs = std::make_shared<Thandshake>();
    hs->pid = handshakePid(w);
    return hs;
  }
  if (w[0] == 'D') {
    auto data = std::make_shared<Tdata>();
    data->pid = dataPid(w[1]);
    data->data.assign(std::stoul(w.substr(w.find('/') + 1)), 0xA5);
    return data;
  }
  auto token = std::make_shared<Ttoken>();
  const auto digits = w.find_first_of("0123456789");
  token->pid = tokenPid(w.substr(0, digits));
  token->addr = std::stoi(w.substr(digits));
  token->endp = std::stoi(w.substr(w.find('.') + 1));
  return token;
}

}  // namespace

TrowVec wordRows(const std::string& words) {
  TrowVec rows;
  std::istringstream in(words);
  std::string w;
  uint64_t tick = 0;
  while (in >> w) {
    TrowPtr row = wordRow(w);
    row->tick = tick++;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace qxtest
