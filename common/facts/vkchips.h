// What the chips on the Kelvo board answer to: the CP2130 bridge's vendor
// requests and SPI commands, the capture logic's registers and memory-control
// bits, the serial SRAM's commands and the MachXO2's configuration opcodes.
// Shared by the board layer and the simulated board, which model the two ends
// of the same wire and so must not keep two copies of these.
#pragma once

#include <cstdint>

namespace kelvo {

// ---- CP2130 bridge ----
constexpr uint8_t REQ_TYPE_OUT = 0x40;  // vendor request, host to device
constexpr uint8_t REQ_TYPE_IN = 0xC0;
constexpr uint8_t REQ_GET_READONLY_VERSION = 0x11;
constexpr uint8_t REQ_SET_GPIO_MODE_LEVEL = 0x23;
constexpr uint8_t REQ_GET_GPIO_CS = 0x24;
constexpr uint8_t REQ_SET_GPIO_CS = 0x25;
constexpr uint8_t REQ_GET_SPI_WORD = 0x30;
constexpr uint8_t REQ_SET_SPI_WORD = 0x31;
constexpr uint8_t REQ_SET_CLOCK_DIVIDER = 0x47;
constexpr uint8_t REQ_GET_USB_CONFIG = 0x60;
// SPI commands: an 8-byte header (command in byte 2, length little-endian in
// bytes 4..7), sent in full-speed bulk packets of 64 bytes.
constexpr uint8_t SPI_CMD_READ = 0x00;
constexpr uint8_t SPI_CMD_WRITE = 0x01;
constexpr uint8_t SPI_CMD_WRITE_READ = 0x02;
constexpr uint32_t SPI_HEADER_SIZE = 8;
constexpr uint32_t BULK_PACKET_SIZE = 64;
constexpr uint8_t GPIO_FPGA_RESET = 7;

// ---- capture logic, application port (SPI channel 1) ----
constexpr unsigned REG_CONTROL = 4;
constexpr unsigned REG_MEM_CTRL = 12;
constexpr unsigned REG_MEM_DATA = 13;
constexpr unsigned REG_COUNT = 14;
constexpr unsigned REG_DATA_PORT = 35;
// REG_CONTROL bits: with CTL_CONNECT_SET, CTL_CONNECT connects the target.
constexpr uint8_t CTL_CLEAR = 0x01;
constexpr uint8_t CTL_RUN = 0x02;
constexpr uint8_t CTL_CONNECT = 0x04;
constexpr uint8_t CTL_CONNECT_SET = 0x20;
// REG_MEM_CTRL bits: chip select, data drive, bus mode, next action.
constexpr uint8_t RC_CSnOn = 0x00;
constexpr uint8_t RC_CSnOff = 0x20;
constexpr uint8_t RC_OEon = 0x10;
constexpr uint8_t RC_OEoff = 0x00;
constexpr uint8_t RC_QSPI = 0x00;
constexpr uint8_t RC_DSPI = 0x04;
constexpr uint8_t RC_SPI = 0x08;
constexpr uint8_t RC_NOOP = 0x0C;
constexpr uint8_t RC_NEXT_NOOP = 0;
constexpr uint8_t RC_NEXT_WR = 1;
constexpr uint8_t RC_NEXT_RD = 2;
constexpr uint8_t RC_NEXT_IDLE = 3;

// ---- serial SRAM (the capture memory) ----
constexpr uint8_t Q_CMD_READ = 0x03;
constexpr uint8_t Q_CMD_WRITE = 0x02;
constexpr uint8_t Q_CMD_EDIO = 0x3B;
constexpr uint8_t Q_CMD_EQIO = 0x38;
constexpr uint8_t Q_CMD_RSTIO = 0xFF;
constexpr uint8_t Q_CMD_RDMR = 0x05;
constexpr uint8_t Q_CMD_WRMR = 0x01;

// ---- MachXO2 configuration port (SPI channel 0) ----
constexpr uint32_t IDCODE_640HC = 0x012B9043;
constexpr uint32_t IDCODE_1200HC = 0x012BA043;
constexpr uint8_t CFG_ISC_ENABLE = 0xC6;
constexpr uint8_t CFG_ISC_ENABLE_X = 0x74;
constexpr uint8_t CFG_ISC_ERASE = 0x0E;
constexpr uint8_t CFG_LSC_INIT_ADDRESS = 0x46;
constexpr uint8_t CFG_ISC_PROGRAM_DONE = 0x5E;
constexpr uint8_t CFG_LSC_REFRESH = 0x79;
constexpr uint8_t CFG_ISC_DISABLE = 0x26;
constexpr uint8_t CFG_ISC_NOOP = 0xFF;
constexpr uint8_t CFG_LSC_PROG_INCR_NV = 0x70;
constexpr uint8_t CFG_ISC_PROGRAM_USERCODE = 0xC2;
constexpr uint8_t CFG_LSC_PROG_FEABITS = 0xF8;
constexpr uint8_t CFG_LSC_CHECK_BUSY = 0xF0;
constexpr uint8_t CFG_LSC_READ_STATUS = 0x3C;
constexpr uint8_t CFG_IDCODE_PUB = 0xE0;
constexpr uint8_t CFG_UIDCODE_PUB = 0x19;
constexpr uint8_t CFG_LSC_READ_FEATURE = 0xE7;
constexpr uint8_t CFG_LSC_READ_FEABITS = 0xFB;
constexpr uint8_t CFG_USERCODE = 0xC0;
// Page size of a configuration frame.
constexpr uint32_t CFG_FRAME_SIZE = 16;

}  // namespace kelvo
