// Hostile sample files for tests: small .vkd files whose rows make the
// program do too much. One function a kind of file; each writes the file at
// path and returns false when it could not be written.
#pragma once

#include <string>

namespace qxtest {

// One IN transaction with `children` ACKs below it; a million give 11.7 KB.
bool writeWideTransaction(const std::string& path, long children);

}  // namespace qxtest
