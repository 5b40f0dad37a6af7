// Hostile sample-data files: small gzip files whose rows cost far more than
// their size once loaded. One function per kind of file.
#pragma once

#include <cstddef>
#include <string>

namespace qxhostile {

// One control read (GET_DESCRIPTOR) whose data stage is `packets` ACKed IN
// transactions of `bytesPerPacket` zero bytes: 300 of 349,000 bytes make
// 105 MB in a file of about 320 KB. False when the file cannot be written.
bool writeHugeDataStage(const std::string& path, int packets, size_t bytesPerPacket);

}  // namespace qxhostile
