// Built-in bus traffic of the simulated board: produces the line-state stream (raw
// capture coding, no magic) of a full-speed device that is reset, enumerated with the
// standard control transfers and then polled on its interrupt IN endpoint.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvosim {

// The scenario's stream; built once, about 160 KB (more than a capture can hold).
const std::vector<uint8_t>& scenarioBytes();

}  // namespace kelvosim
