// Packet rows from short words, the one grammar of the tests' traffic:
// R (reset), S (SOF), IN5.0 / OUT5.0 / SETUP5.0 (token on address 5 endpoint
// 0), D0/8 (DATA0 with 8 bytes; D1, D2, DM = DATA1, DATA2, MDATA), ACK, NAK,
// STALL. Payload bytes are 0xA5, row ticks count up from 0, the other fields
// keep their defaults.
#pragma once

#include <string>

#include "vkrows.h"

namespace qxtest {

TrowVec wordRows(const std::string& words);

}  // namespace qxtest
