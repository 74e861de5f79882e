// The records that the host passes with a command: the command block, which OxaMain
// receives, and the parameter block that each command reads or fills. The host owns
// them for the duration of one call. Layouts are fixed: little-endian, 32-bit pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/instance_block.h"
#include "contracts/packed_field.h"

// Results of the command handlers: 0 for success, 1 or 2 for the two failures, as each
// command defines them. 2 is also the answer to a command the driver does not have.
constexpr int kCommandOk = 0;
constexpr int kCommandFailed = 1;
constexpr int kCommandRefused = 2;

struct CommandBlock {
  Unaligned<InstanceBlock *> instanceBlock;
  Unaligned<std::int32_t> command;          // index into the command table
  Unaligned<std::uint16_t> instanceNumber;  // read by cold start only
  unsigned char notRead10[6];
  Unaligned<void *> params;  // the command's parameter block
};
static_assert(offsetof(CommandBlock, instanceBlock) == 0);
static_assert(offsetof(CommandBlock, command) == 4);
static_assert(offsetof(CommandBlock, instanceNumber) == 8);
static_assert(offsetof(CommandBlock, params) == 16);
static_assert(sizeof(CommandBlock) == 20);

// Command 14 fills this record; the bytes at 20..27 belong to the host.
struct DriverInfoRecord {
  Unaligned<std::int32_t> hostValue0;  // 70
  Unaligned<const char *> name;
  Unaligned<const char *> banner;
  Unaligned<std::int32_t> blockSize;
  Unaligned<std::int32_t> hostValue16;  // 1
  unsigned char notWritten20[8];
  Unaligned<std::int32_t> hostValue28;  // 3
};
static_assert(offsetof(DriverInfoRecord, hostValue0) == 0);
static_assert(offsetof(DriverInfoRecord, name) == 4);
static_assert(offsetof(DriverInfoRecord, banner) == 8);
static_assert(offsetof(DriverInfoRecord, blockSize) == 12);
static_assert(offsetof(DriverInfoRecord, hostValue16) == 16);
static_assert(offsetof(DriverInfoRecord, notWritten20) == 20);
static_assert(offsetof(DriverInfoRecord, hostValue28) == 28);
static_assert(sizeof(DriverInfoRecord) == 32);

// Command 1.
struct ColdStartParams {
  unsigned char notRead0[12];
  Unaligned<std::int32_t> runFlag;           // 0: the host only installs the driver
  Unaligned<std::int32_t> receiveTimeoutCs;  // hundredths of a second
};
static_assert(offsetof(ColdStartParams, runFlag) == 12);
static_assert(offsetof(ColdStartParams, receiveTimeoutCs) == 16);
static_assert(sizeof(ColdStartParams) == 20);

// Command 2.
struct WarmStartParams {
  Unaligned<std::uint16_t> station;
};
static_assert(offsetof(WarmStartParams, station) == 0);
static_assert(sizeof(WarmStartParams) == 2);

// Command 15.
struct ReceiveTimeoutParams {
  unsigned char notRead0[12];
  Unaligned<std::int32_t> timeoutMs;  // 0 keeps the current time-out
};
static_assert(offsetof(ReceiveTimeoutParams, timeoutMs) == 12);
static_assert(sizeof(ReceiveTimeoutParams) == 16);

// Commands 3 and 4.
struct ParseParams {
  Unaligned<const char *> address;
  Unaligned<std::int32_t> gateId;
  Unaligned<std::int32_t> gateType;  // 0 signed 16, 1 unsigned 16, 3 float
  unsigned char notUsed12[4];
  Unaligned<std::int32_t> station;  // out
  unsigned char notUsed20[4];
  Unaligned<std::int32_t> channel;      // out
  Unaligned<std::int32_t> hostValue28;  // out: 255
  Unaligned<std::int32_t> hostValue32;  // out: 32
};
static_assert(offsetof(ParseParams, address) == 0);
static_assert(offsetof(ParseParams, gateId) == 4);
static_assert(offsetof(ParseParams, gateType) == 8);
static_assert(offsetof(ParseParams, station) == 16);
static_assert(offsetof(ParseParams, channel) == 24);
static_assert(offsetof(ParseParams, hostValue28) == 28);
static_assert(offsetof(ParseParams, hostValue32) == 32);
static_assert(sizeof(ParseParams) == 36);

// Commands 5, 6, 7 and 10. The station number lies where the parse commands find the
// gate type.
struct ReadWriteParams {
  Unaligned<const char *> address;
  unsigned char notUsed4[4];
  Unaligned<std::uint16_t> station;
  unsigned char notUsed10[30];
  Unaligned<float *> value;  // SingleRead stores the value here
};
static_assert(offsetof(ReadWriteParams, address) == 0);
static_assert(offsetof(ReadWriteParams, station) == 8);
static_assert(offsetof(ReadWriteParams, value) == 40);
static_assert(sizeof(ReadWriteParams) == 44);

// The parameter block of a command, viewed as the record that the command reads.
template <typename Params>
Params *ParamsOf(CommandBlock *command) {
  return static_cast<Params *>(command->params.Get());
}
