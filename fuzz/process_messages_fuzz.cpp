// Feeds arbitrary bytes, as a station would send them, to the driver's packet processing
// over a real loopback connection. Each input gets a fresh connection that the "station"
// closes after writing, so every call ends at the input's end instead of waiting.
#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "contracts/host_runtime.h"
#include "contracts/instance_block.h"
#include "hevpro/hevpro_control.h"
#include "link/process_messages.h"
#include "tests/support/loopback.h"

namespace {

using testing_support::ConnectTo;
using testing_support::Listener;

constexpr int kStation = 1;

struct Harness {
  testing_support::WinsockSession winsock;
  std::vector<unsigned char> block = std::vector<unsigned char>(kInstanceBlockSize, 0);
  const std::string address = testing_support::LoopbackAddressFor("process_messages_fuzz");
  Listener listener{address};

  Harness() {
    HevCtlLogOff();
    InstanceBlock *b = Block();
    ApplyDefaults(*b);
    b->instanceNumber.Set(1);
    HevMkClient("DOV_DRIVER01", 1, 0, &b->clientId);
    for (int channel = 0; channel < 32; ++channel) {
      char gate[16];
      std::snprintf(gate, sizeof gate, "001F%04d", channel);
      HevCtlDefineGate(channel, gate, kHevGateFloat, 0);
    }
    HevCtlDefineGate(32, "001AIR_FLOW", kHevGateSigned16, 0);
  }
  InstanceBlock *Block() { return reinterpret_cast<InstanceBlock *>(block.data()); }
};

void SendAll(win::SOCKET s, const uint8_t *data, size_t size) {
  while (size > 0) {
    int rc = win::send(s, reinterpret_cast<const char *>(data), static_cast<int>(size), 0);
    if (rc <= 0) return;
    data += rc;
    size -= static_cast<size_t>(rc);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Harness harness;
  if (size > 65536) return 0;  // more than a socket buffer holds without a reader
  win::SOCKET driverSide = ConnectTo(harness.address, 10000);
  win::SOCKET stationSide = harness.listener.Accept(10000);
  if (driverSide == INVALID_SOCKET || stationSide == INVALID_SOCKET) std::abort();
  SendAll(stationSide, data, size);
  win::closesocket(stationSide);

  // The station's end is closed, so every input ends in a lost link: at its end, or
  // earlier where the bytes stop being packets.
  InstanceBlock *block = harness.Block();
  PacketContext context{block->clientId, block->instanceNumber.Get(), nullptr};
  static StationStream stream;
  stream.Reset();
  for (Received received; !received.linkLost;) {
    received = ProcessMessages(context, kStation, driverSide, stream, 64);
  }
  win::closesocket(driverSide);
  return 0;
}
