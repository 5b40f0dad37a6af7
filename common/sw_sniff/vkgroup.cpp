// Finders of the group rows: a transaction's token, data and handshake, a
// control transfer's transactions and the bytes of its data stage.
// Declared with the row classes in vkrows.h.
#include "vkrows.h"

namespace {

template <class T>
std::shared_ptr<T> firstChildOf(const TrowVec& children, int kind) {
  for (const TrowPtr& child : children) {
    if (!child || child->kind != kind) continue;
    if (auto found = std::dynamic_pointer_cast<T>(child)) return found;
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<Ttoken> Ttransax::findTokenPkt() const { return firstChildOf<Ttoken>(children, RK_TOKEN); }

std::shared_ptr<Tdata> Ttransax::findDataPkt() const { return firstChildOf<Tdata>(children, RK_DATA); }

std::shared_ptr<Thandshake> Ttransax::findHandshakePkt() const {
  return firstChildOf<Thandshake>(children, RK_HANDSHAKE);
}

bool Ttransax::ackOK() const {
  auto handshake = findHandshakePkt();
  return handshake && handshake->pid == PID_ACK;
}

std::shared_ptr<Ttransax> Ttransfer::findTransax(TtrxType type, unsigned& i) const {
  for (; i < children.size(); ++i) {
    const TrowPtr& child = children[i];
    if (!child || child->kind != RK_TRANSAX) continue;
    auto trx = std::dynamic_pointer_cast<Ttransax>(child);
    if (trx && trx->trxType == type) return trx;
  }
  return nullptr;
}

std::shared_ptr<Ttransax> Ttransfer::findSetupTransax() const {
  unsigned i = 0;
  return findTransax(TRX_SETUP, i);
}

std::shared_ptr<Ttransax> Ttransfer::findInTransax(unsigned& i) const { return findTransax(TRX_IN, i); }

std::shared_ptr<Ttransax> Ttransfer::findOutTransax(unsigned& i) const { return findTransax(TRX_OUT, i); }

bool Ttransfer::findStageTypes(TtrxType& dataType, TtrxType& statusType) const {
  auto setup = findSetupTransax();
  auto request = setup ? setup->findDataPkt() : nullptr;
  if (!request || request->data.size() != 8) return false;
  // Without a data stage (wLength 0) the status is IN, whatever bit 7 says.
  const bool hasDataStage = request->data[6] != 0 || request->data[7] != 0;
  const bool deviceToHost = hasDataStage && (request->data[0] & 0x80) != 0;
  dataType = deviceToHost ? TRX_IN : TRX_OUT;
  statusType = deviceToHost ? TRX_OUT : TRX_IN;
  return true;
}

TbyteVec& Ttransfer::findData() {
  // Kept once found; an empty data stage is worked out again on each call.
  if (!data.empty()) return data;
  TtrxType dataType = TRX_IN;
  TtrxType statusType = TRX_OUT;
  if (!findStageTypes(dataType, statusType)) return data;

  success = false;
  // The data stage starts with DATA1 and alternates. A packet that repeats the
  // toggle taken last was sent again after a lost ACK, and the receiver drops
  // it; DATA2 and MDATA have no place at full speed.
  int expected = PID_DATA1;
  for (const TrowPtr& child : children) {
    if (!child || child->kind != RK_TRANSAX) continue;
    auto trx = std::dynamic_pointer_cast<Ttransax>(child);
    if (!trx || !trx->ackOK()) continue;
    if (trx->trxType == dataType) {
      auto packet = trx->findDataPkt();
      if (!packet || packet->pid != expected) continue;
      data.insert(data.end(), packet->data.begin(), packet->data.end());
      expected = expected == PID_DATA1 ? PID_DATA0 : PID_DATA1;
    } else if (trx->trxType == statusType) {
      auto packet = trx->findDataPkt();
      if (packet && packet->data.empty()) success = true;
    }
  }
  return data;
}
