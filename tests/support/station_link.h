// A driver instance with one station connected over loopback, for tests of what the
// driver does with the bytes a station sends and of what it sends to the station. The
// test holds the station's end of the connection.
#pragma once

#include <string>
#include <vector>

#include "countnet/packet_handler.h"
#include "link/instance_state.h"
#include "link/process_messages.h"
#include "tests/support/driver_harness.h"
#include "tests/support/loopback.h"

namespace testing_support {

constexpr int kLinkStation = 1;
constexpr int kMaxChannelGates = 32;

class StationLink {
 public:
  // Gates 001F0000..001F0031 (float) and 001AIR_FLOW (signed 16) of instance 1 exist in
  // the stand-in host; the station's address is the running test's own.
  StationLink();
  ~StationLink();

  bool connected() const { return stationSide_ != INVALID_SOCKET; }
  InstanceBlock *block() { return host_.get(); }
  win::SOCKET driverSide() const { return driverSide_; }
  InstancePrivate &state();
  // The update rate, in the block and in the driver's copy of it.
  void SetUpdateRate(std::uint16_t seconds);
  win::SOCKET stationSide() const { return stationSide_; }
  const std::string &address() const { return address_; }

  // Writes bytes as the station, in one send.
  bool Send(const std::vector<unsigned char> &bytes);
  // Closes the station's end, with a reset when `reset`.
  void Close(bool reset = false);
  // Reads what the driver sent, `count` bytes at most, waiting up to timeoutMs for them.
  std::vector<unsigned char> Receive(std::size_t count, int timeoutMs);

  // Receives as the driver's receiving thread does, until one packet was handled, the link
  // was lost, or about ten seconds passed.
  Received ProcessOnePacket();

  // The gate value and the number of driver writes; NaN and 0 for an unknown gate.
  static double GateValue(const std::string &address, unsigned *writes = nullptr);

 private:
  WinsockSession winsock_;
  HostBlock host_;
  std::string address_;
  win::SOCKET stationSide_ = INVALID_SOCKET;
  win::SOCKET driverSide_ = INVALID_SOCKET;
  StationStream stream_;
};

}  // namespace testing_support
