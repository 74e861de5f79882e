// The driver instance block: all state of one driver instance, in memory that the host
// allocates with the size that DriverInfo reports and passes with every command. The
// layout is a contract with the host: packed, little-endian, 32-bit pointers and
// handles, every offset fixed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contracts/packed_field.h"

constexpr int kStationCount = 256;            // station numbers 0..255 index the table
constexpr int kChannelGateFlagCount = 65535;  // one flag per gate id 0..65534
constexpr int kIpAddressSize = 16;            // 15 characters and the terminator
constexpr std::int32_t kNoSocket = -1;
constexpr std::uint16_t kDefaultUpdateRate = 10;  // seconds

struct StationEntry {
  char ipAddress[kIpAddressSize];  // dotted text; empty: station not configured
  unsigned char reserved16[8];     // never read or written
  Unaligned<void *> packet;        // packet library object, or null
  Unaligned<void *> message;       // packet library object, or null
  unsigned char reserved32[4];     // never read or written
  SharedInt32 socket;              // kNoSocket when not connected
};

static_assert(sizeof(StationEntry) == 40);
static_assert(offsetof(StationEntry, ipAddress) == 0);
static_assert(offsetof(StationEntry, reserved16) == 16);
static_assert(offsetof(StationEntry, packet) == 24);
static_assert(offsetof(StationEntry, message) == 28);
static_assert(offsetof(StationEntry, reserved32) == 32);
static_assert(offsetof(StationEntry, socket) == 36);

struct InstanceBlock {
  Unaligned<std::int32_t> receiveTimeoutMs;  // kept for the host; nothing reads it
  Unaligned<std::uint16_t> instanceNumber;   // number in log prefixes and host calls
  Unaligned<std::int32_t> started;           // 0: loaded only for installation
  StationEntry stations[kStationCount];
  std::uint8_t clientId;                                // from HevMkClient
  Unaligned<std::uint16_t> updateRate;                  // seconds
  SharedInt32 channelGateFlags[kChannelGateFlagCount];  // 1: channel tag to re-arm
  Unaligned<void *> socketTableEvent;                   // auto-reset event guarding socket changes
  SharedInt32 stopFlag;                                 // 1 once the incoming messages thread ended
};

constexpr std::size_t kInstanceBlockSize = 272401;

static_assert(sizeof(InstanceBlock) == kInstanceBlockSize);
static_assert(alignof(InstanceBlock) == 1);
static_assert(offsetof(InstanceBlock, receiveTimeoutMs) == 0);
static_assert(offsetof(InstanceBlock, instanceNumber) == 4);
static_assert(offsetof(InstanceBlock, started) == 6);
static_assert(offsetof(InstanceBlock, stations) == 10);
static_assert(offsetof(InstanceBlock, stations) + 40 * 255 + 39 == 10249);  // last entry's end
static_assert(offsetof(InstanceBlock, clientId) == 10250);
static_assert(offsetof(InstanceBlock, updateRate) == 10251);
static_assert(offsetof(InstanceBlock, channelGateFlags) == 10253);
static_assert(offsetof(InstanceBlock, socketTableEvent) == 10253 + 4 * kChannelGateFlagCount);
static_assert(offsetof(InstanceBlock, socketTableEvent) == 272393);
static_assert(offsetof(InstanceBlock, stopFlag) == 272397);

// Puts the block into its state before the init file is read: no station configured or
// connected, no packet library objects, the default update rate, no channel gate armed,
// the stop flag down. Reserved bytes and the fields that cold start sets itself
// (receiveTimeoutMs, instanceNumber, started, clientId, socketTableEvent) stay as they are.
void ApplyDefaults(InstanceBlock &block);

// Size of the driver's local copies of a station's address (log lines, connections).
constexpr int kAddressCopySize = 50;

// Whether the init file gave the station an address.
inline bool IsConfigured(const StationEntry &station) {
  return station.ipAddress[0] != '\0';
}

// Copies the station's address text into `out` (kAddressCopySize bytes), zero-filled. At
// most the field's 15 characters are taken, even if the field lacks its terminator.
void CopyIpAddress(const StationEntry &station, char *out);
