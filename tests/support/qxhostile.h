// Generators of hostile sample-data files: small files whose rows make the
// program do a great deal of work. One function per kind of file. Also one
// of plain control transfers, to see what such rows show.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "vkrows.h"

namespace qxhostile {

// `rows` ACK packets at level 0: 20 million give about 175 KB.
bool writeTinyRows(const std::string& path, long rows);

// One IN transaction with `children` ACKs below it; a million give 11.7 KB.
bool writeWideTransaction(const std::string& path, long children);

// One control transfer, GET_DESCRIPTOR(CONFIGURATION) of 65535 bytes, whose
// data stage is 32,767 two-byte descriptors in 64-byte packets.
TrowPtr descriptorFloodTransfer();
// A sample-data file of that transfer alone; its row count, 0 on failure.
int writeDescriptorFlood(const std::string& path);

// One control read (GET_DESCRIPTOR) whose data stage is `packets` ACKed IN
// transactions of `bytesPerPacket` zero bytes, toggles alternating: 300 of
// 349,000 bytes make 105 MB in a file of about 320 KB. False when the file
// cannot be written.
bool writeHugeDataStage(const std::string& path, int packets, size_t bytesPerPacket);

// Control transfers, one per {SETUP bytes, data stage}: the SETUP, the data
// stage in 64-byte packets (IN when bit 7 of bmRequestType is set, else
// OUT), then the status stage, every transaction ACKed. Its row count, 0 on
// failure.
int writeControlTransfers(const std::string& path, const std::vector<std::pair<TbyteVec, TbyteVec>>& transfers);

}  // namespace qxhostile
