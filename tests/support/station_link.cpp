#include "tests/support/station_link.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "contracts/host_runtime.h"
#include "hevpro/hevpro_control.h"
#include "link/instance_state.h"
#include "link/socket_wait.h"
#include "link/station_sockets.h"

namespace testing_support {
namespace {

constexpr int kGenerousMs = 10000;

void DefineStationGates() {
  for (int channel = 0; channel < kMaxChannelGates; ++channel) {
    char address[16];
    std::snprintf(address, sizeof address, "%03dF%04d", kLinkStation, channel);
    HevCtlDefineGate(100 + channel, address, kHevGateFloat, 0);
  }
  HevCtlDefineGate(200, "001AIR_FLOW", kHevGateSigned16, 0);
}

}  // namespace

StationLink::StationLink() : address_(TestAddress()) {
  HevCtlReset();
  DefineStationGates();
  InstanceBlock *block = host_.get();
  ApplyDefaults(*block);
  block->instanceNumber.Set(1);
  HevMkClient("DOV_DRIVER01", 1, 0, &block->clientId);
  std::snprintf(block->stations[kLinkStation].ipAddress, kIpAddressSize, "%s", address_.c_str());

  Listener listener(address_);
  if (!listener.ok()) return;
  driverSide_ = ConnectTo(address_, kGenerousMs);
  if (driverSide_ == INVALID_SOCKET) return;
  stationSide_ = listener.Accept(kGenerousMs);
  // The connection is the station's, as cold start would have made it.
  InstancePrivate &state = RenewPrivateState(block);
  PrepareInstanceState(block, state);
  state.stations[kLinkStation].Install(static_cast<std::int32_t>(driverSide_));
}

StationLink::~StationLink() {
  Close();
  InstancePrivate &state = *FindPrivateState(host_.get());
  for (::StationLink &link : state.stations) link.Detach();
  ReleasePrivateState(host_.get());
  if (driverSide_ != INVALID_SOCKET) win::closesocket(driverSide_);
  HevCtlReset();
}

InstancePrivate &StationLink::state() {
  return *FindPrivateState(host_.get());
}

void StationLink::SetUpdateRate(std::uint16_t seconds) {
  host_.get()->updateRate.Set(seconds);
  state().copy.updateRate = seconds;
}

Received StationLink::ProcessOnePacket() {
  InstanceBlock *block = host_.get();
  PacketContext context{block->clientId, block->instanceNumber.Get(), nullptr};
  Deadline deadline(kGenerousMs);
  for (;;) {
    Received received = ProcessMessages(context, kLinkStation, driverSide_, stream_, 1);
    if (received.packets > 0 || received.linkLost || deadline.RemainingMs() == 0) return received;
    WaitReadable(driverSide_, Deadline(50));
  }
}

bool StationLink::Send(const std::vector<unsigned char> &bytes) {
  int length = static_cast<int>(bytes.size());
  return win::send(stationSide_, reinterpret_cast<const char *>(bytes.data()), length, 0) == length;
}

void StationLink::Close(bool reset) {
  if (stationSide_ == INVALID_SOCKET) return;
  if (reset) {
    win::linger abort{1, 0};
    win::setsockopt(stationSide_, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&abort),
                    sizeof abort);
  }
  win::closesocket(stationSide_);
  stationSide_ = INVALID_SOCKET;
}

std::vector<unsigned char> StationLink::Receive(std::size_t count, int timeoutMs) {
  std::vector<unsigned char> bytes;
  Deadline deadline(timeoutMs);
  while (bytes.size() < count && WaitReadable(stationSide_, deadline) == SocketWait::kReady) {
    unsigned char chunk[4096];
    std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
    int rc = win::recv(stationSide_, reinterpret_cast<char *>(chunk), static_cast<int>(wanted), 0);
    if (rc <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + rc);
  }
  return bytes;
}

double StationLink::GateValue(const std::string &address, unsigned *writes) {
  int gateId = 0;
  double value = std::nan("");
  std::uint32_t count = 0;
  std::uint8_t client = 0;
  if (HevCtlFindClient("DOV_DRIVER01", &client) == 0 &&
      HevGetGateIdByAddressStr(client, 1, address.c_str(), &gateId) == 0) {
    HevCtlGateValue(gateId, &value, &count);
  }
  if (writes != nullptr) *writes = count;
  return value;
}

}  // namespace testing_support
