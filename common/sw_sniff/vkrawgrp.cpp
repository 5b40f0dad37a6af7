#include "vkrawgrp.h"

namespace {

bool isSof(const TrowPtr& row) { return row && row->kind == RK_SOF; }

bool hasEmptyPayload(const TrowPtr& row) {
  auto data = std::dynamic_pointer_cast<Tdata>(row);
  return data && data->data.empty();
}

// A zero-length packet ends a control transfer only as its status stage, and
// only when the device took it: in the data stage's direction it is a short
// packet that ends the data stage, and a NAKed status is tried again.
bool endsTransfer(const Ttransfer& transfer, TtrxType type, int handshakePid) {
  TtrxType dataType = TRX_IN;
  TtrxType statusType = TRX_OUT;
  if (!transfer.findStageTypes(dataType, statusType)) return true;
  return type == statusType && handshakePid != PID_NAK;
}

}  // namespace

TrawTree::TrawTree(TrowVec& events_, TrowVec& roots_) : events(events_), roots(roots_) {
  uint64_t ix = 0;
  while (getDisplayItem(ix)) {
  }
}

int TrawTree::getPid(const TrowPtr& row) {
  if (!row) return -1;
  return visitRow(*row,
                  Toverload{[](const TpacketBase& packet) { return packet.pid; }, [](const Treset&) { return -1; },
                            [](const Tgrouper&) { return -1; }},
                  -1);
}

int TrawTree::portRef(int addr, int endp) { return ((addr & 0x7F) << 4) | (endp & 0x0F); }

bool TrawTree::getDisplayItem(uint64_t& ix) {
  if (atEnd(ix)) return false;
  const TrowPtr& row = events[ix];
  if (row && row->kind == RK_RESET) return doReset(ix);
  if (row && row->kind == RK_SOF) return doSOF(ix);
  if (row && row->kind == RK_TOKEN) {
    switch (getPid(row)) {
      case PID_IN: return doIn(ix);
      case PID_SETUP: return doSetup(ix);
      case PID_OUT: return doOut(ix);
      default: break;  // the decoder makes no other tokens; keep it as a root
    }
  }
  return keepAsRoot(ix);
}

bool TrawTree::keepAsRoot(uint64_t& ix) {
  roots.push_back(events[ix]);
  ++ix;
  return true;
}

bool TrawTree::doReset(uint64_t& ix) { return keepAsRoot(ix); }

bool TrawTree::doSOF(uint64_t& ix) {
  if (atEnd(ix + 1) || !isSof(events[ix + 1])) return keepAsRoot(ix);
  auto group = std::make_shared<TsofGroup>();
  roots.push_back(group);
  while (!atEnd(ix) && isSof(events[ix])) {
    events[ix]->level = 1;
    group->children.push_back(events[ix]);
    ++ix;
  }
  return !atEnd(ix);
}

bool TrawTree::doSetup(uint64_t& ix) {
  auto token = std::dynamic_pointer_cast<Ttoken>(events[ix]);
  if (!token) return keepAsRoot(ix);
  const int key = portRef(token->addr, token->endp);

  auto transfer = std::make_shared<Ttransfer>(TFR_CONTROL);
  roots.push_back(transfer);
  portMap[key].transfer = transfer;  // an older open transfer stays in roots

  auto trx = std::make_shared<Ttransax>(TRX_SETUP);
  trx->level = transfer->level + 1;
  transfer->children.push_back(trx);
  token->level = trx->level + 1;
  trx->children.push_back(token);
  ++ix;

  if (atEnd(ix)) return false;
  if (getPid(events[ix]) != PID_DATA0) return true;
  events[ix]->level = trx->level + 1;
  trx->children.push_back(events[ix]);
  ++ix;

  if (atEnd(ix)) return false;
  if (getPid(events[ix]) == PID_ACK) {
    events[ix]->level = trx->level + 1;
    trx->children.push_back(events[ix]);
    ++ix;
  }
  return true;
}

bool TrawTree::doIn(uint64_t& ix) { return doInOut(ix, TRX_IN); }

bool TrawTree::doOut(uint64_t& ix) { return doInOut(ix, TRX_OUT); }

bool TrawTree::doInOut(uint64_t& ix, TtrxType type) {
  auto token = std::dynamic_pointer_cast<Ttoken>(events[ix]);
  if (!token) return keepAsRoot(ix);
  const int key = portRef(token->addr, token->endp);

  auto trx = std::make_shared<Ttransax>(type);
  auto port = portMap.find(key);
  if (port != portMap.end()) {
    trx->level = port->second.transfer->level + 1;
    port->second.transfer->children.push_back(trx);
  } else {
    trx->level = 0;
    roots.push_back(trx);
  }
  token->level = trx->level + 1;
  trx->children.push_back(token);
  ++ix;

  auto accept = [&]() {
    events[ix]->level = trx->level + 1;
    trx->children.push_back(events[ix]);
    ++ix;
  };

  bool emptyPayload = false;
  int handshakePid = -1;
  bool ended = false;
  bool haveData = false;
  while (!ended) {
    if (atEnd(ix)) return false;
    const int pid = getPid(events[ix]);
    if (!haveData) {
      if (pid == PID_DATA0 || pid == PID_DATA1) {
        emptyPayload = hasEmptyPayload(events[ix]);
        accept();
        haveData = true;
      } else {
        if (type == TRX_IN && (pid == PID_NAK || pid == PID_STALL)) accept();
        ended = true;
      }
    } else {
      const bool handshakeFits = pid == PID_ACK || (type == TRX_OUT && (pid == PID_NAK || pid == PID_STALL));
      if (handshakeFits) {
        handshakePid = pid;
        accept();
      }
      ended = true;
    }
  }
  if (emptyPayload && port != portMap.end() && endsTransfer(*port->second.transfer, type, handshakePid))
    portMap.erase(port);
  return true;
}
