// USB packet identifiers (the low nibble of the PID byte), named once for the
// engine, the line encoder, the simulated board and the tests. Their names,
// types and colours are the engine's PID table (utils::pidName and friends).
#pragma once

enum TpidCode : int {
  PID_RESERVED = 0,
  PID_OUT = 1,
  PID_ACK = 2,
  PID_DATA0 = 3,
  PID_PING = 4,
  PID_SOF = 5,
  PID_NYET = 6,
  PID_DATA2 = 7,
  PID_SPLIT = 8,
  PID_IN = 9,
  PID_NAK = 10,
  PID_DATA1 = 11,
  PID_PRE = 12,
  PID_SETUP = 13,
  PID_STALL = 14,
  PID_MDATA = 15
};
