// PID table lookups, enumeration names, text splitting and tick texts.
// Stateless helpers used by every unit that reads rows.
#pragma once

#include <cstdint>
#include <string>

#include "vkrows.h"

namespace utils {

L0eventType packetType(int pid);
int packetMinSize(int pid);
bool pidIsFsLegal(int pid);
std::string pidPrintCode(unsigned pid);
uint64_t pidFG(unsigned pid);
uint64_t pidBG(unsigned pid);
// Unmasked: 16..18 are pseudo-PIDs for reset, error and undefined.
std::string pidName(unsigned pid);

std::string transactionTypeName(TtrxType t);
std::string L0eventTypeName(L0eventType t);
std::string L1groupTypeName(L1groupType t);

// Appends the non-empty pieces of text between separators.
void split(const std::string& text, char sep, TstringVec& out);
TstringVec split(const std::string& text, char sep);

// ticks * 1000 / ticksPerMicrosecond as ns, scaled up to mus/ms/s; empty for
// MAX_TICK (no time).
std::string tickToFloatStr(uint64_t ticks, int ticksPerMicrosecond);

}  // namespace utils
