// Generators of hostile sample-data files: small files whose rows make the
// program do a great deal of work. One function per kind of file.
#pragma once

#include <string>

#include "vkrows.h"

namespace qxhostile {

// One IN transaction with `children` ACKs below it; a million give 11.7 KB.
bool writeWideTransaction(const std::string& path, long children);

// One control transfer, GET_DESCRIPTOR(CONFIGURATION) of 65535 bytes, whose
// data stage is 32,767 two-byte descriptors in 64-byte packets.
TrowPtr descriptorFloodTransfer();
// A sample-data file of that transfer alone; its row count, 0 on failure.
int writeDescriptorFlood(const std::string& path);

}  // namespace qxhostile
