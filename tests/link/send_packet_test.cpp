// Sending packets: all of a packet or a reported failure, never a truncated success.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>

#include "contracts/dov_pakt.h"
#include "link/send_packet.h"
#include "tests/support/loopback.h"
#include "tests/support/station_link.h"

namespace {

using testing_support::LogCapture;
using testing_support::StationLink;

// A packet of `size` bytes whose messages carry a recognisable pattern.
void *PatternPacket(int size) {
  void *packet = pvPktAllocatePacket(size);
  void *message = pvMsgAllocateMessage(65535);
  int data = size - 18 - 8;
  std::vector<unsigned char> pattern(static_cast<std::size_t>(data));
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 7);
  vMsgSetMessageType(message, 42);
  iMsgAddField(message, 1, static_cast<std::uint16_t>(data), pattern.data());
  iPktAddMessage(packet, message);
  iMsgFreeMessage(message);
  return packet;
}

std::vector<unsigned char> ImageOf(void *packet) {
  const auto *bytes = static_cast<const unsigned char *>(packet);
  return std::vector<unsigned char>(bytes, bytes + dwPktGetPacketLength(packet));
}

std::int32_t DriverSocket(StationLink &link);

void PinBuffer(win::SOCKET s, int option) {
  int bytes = 16384;
  win::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<char *>(&bytes), sizeof bytes);
}

// Sends filler until the driver's side would block; the bytes queued.
std::size_t FillOnce(win::SOCKET s) {
  std::vector<char> chunk(65536, 'x');
  std::size_t queued = 0;
  for (int rc; (rc = win::send(s, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0;) {
    queued += static_cast<std::size_t>(rc);
  }
  return queued;
}

// Fills the connection as when the station does not read; returns how many bytes are
// queued. A buffer size that is set stays put (the kernel grows buffers of its own choice
// while data flows), and the filling goes on until the connection has stayed full for a
// while, so that the room a packet finds afterwards does not depend on the platform's or
// an emulator's buffer handling.
std::size_t FillConnection(StationLink &link) {
  auto s = static_cast<win::SOCKET>(DriverSocket(link));
  PinBuffer(s, SO_SNDBUF);
  PinBuffer(link.stationSide(), SO_RCVBUF);
  std::size_t queued = FillOnce(s);
  for (int quiet = 0, round = 0; quiet < 3 && round < 50; ++round) {
    win::Sleep(100);
    std::size_t more = FillOnce(s);
    quiet = more == 0 ? quiet + 1 : 0;
    queued += more;
  }
  return queued;
}

std::int32_t DriverSocket(StationLink &link) {
  return link.block()->stations[testing_support::kLinkStation].socket.Load();
}

TEST(SendPacket, SendsTheWholeImageWithTheAddressAndSocketInItsHeader) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  void *packet = PatternPacket(300);
  LogCapture log;
  // An address that does not convert sends nothing: the first bytes to arrive are the
  // second packet's.
  EXPECT_EQ(SendPacket(DriverSocket(link), "not.an.address", packet), 0);
  EXPECT_EQ(SendPacket(DriverSocket(link), link.address().c_str(), packet), 1);

  std::vector<unsigned char> received = link.Receive(300, 10000);
  EXPECT_EQ(received, ImageOf(packet));
  std::uint32_t address = static_cast<std::uint32_t>(win::inet_addr(link.address().c_str()));
  EXPECT_EQ(std::memcmp(received.data() + 4, &address, 4), 0);
  std::uint16_t socket;
  std::memcpy(&socket, received.data() + 8, 2);
  EXPECT_EQ(socket, static_cast<std::uint16_t>(DriverSocket(link)));
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "DEVADO: SendPacket() Invalid TCP/IP Address 'not.an.address'",
                             "DEVADO: SendPacket(). Packet '' sent successfully"}));
  iPktFreePacket(packet);
}

TEST(SendPacket, WaitsForRoomWhileTheStationReads) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  std::size_t queued = FillConnection(link);
  void *packet = PatternPacket(60000);
  auto sending = std::async(std::launch::async, [&] {
    return SendPacket(DriverSocket(link), link.address().c_str(), packet);
  });
  // The station drains the filler; the packet follows it whole.
  std::size_t length = dwPktGetPacketLength(packet);
  std::vector<unsigned char> received = link.Receive(queued + length, 10000);
  EXPECT_EQ(sending.get(), 1);
  ASSERT_EQ(received.size(), queued + length);
  std::vector<unsigned char> image = ImageOf(packet);  // with the address filled in
  EXPECT_TRUE(std::equal(image.begin(), image.end(), received.begin() + queued));
  iPktFreePacket(packet);
}

TEST(SendPacket, APacketThatCannotGoOutWholeIsAFailure) {
  StationLink link;
  ASSERT_TRUE(link.connected());
  FillConnection(link);
  void *packet = PatternPacket(60000);
  LogCapture log;
  EXPECT_EQ(SendPacket(DriverSocket(link), link.address().c_str(), packet), 0);  // about 2 s
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"DEVADO: SendPacket() failed"});

  link.Close(true);  // a reset connection fails at once
  LogCapture afterReset;
  int result = 1;
  for (int attempt = 0; attempt < 50 && result != 0; ++attempt) {
    result = SendPacket(DriverSocket(link), link.address().c_str(), packet);
  }
  EXPECT_EQ(result, 0);
  iPktFreePacket(packet);
}

// Goodbyes at driver end: twenty stations that never read cost one shared window, not
// twenty windows one after another, and a station that reads gets its packet whole.
TEST(SendPacket, PacketsSentTogetherShareOneWindowWhateverTheStationsDo) {
  constexpr int kDeaf = 20;
  constexpr int kWindowMs = 500;
  testing_support::WinsockSession winsock;
  std::vector<std::unique_ptr<testing_support::Listener>> listeners;
  std::vector<win::SOCKET> driverSides, stationSides;
  for (int n = 1; n <= kDeaf + 1; ++n) {
    listeners.push_back(
        std::make_unique<testing_support::Listener>(testing_support::TestAddress(n)));
    ASSERT_TRUE(listeners.back()->ok());
    driverSides.push_back(testing_support::ConnectTo(testing_support::TestAddress(n), 10000));
    ASSERT_NE(driverSides.back(), INVALID_SOCKET);
    stationSides.push_back(listeners.back()->Accept(10000));
    ASSERT_NE(stationSides.back(), INVALID_SOCKET);
    win::u_long nonBlocking = 1;
    win::ioctlsocket(driverSides.back(), FIONBIO, &nonBlocking);
    if (n <= kDeaf) {
      PinBuffer(driverSides.back(), SO_SNDBUF);
      PinBuffer(stationSides.back(), SO_RCVBUF);
      for (int quiet = 0; quiet < 2;) {
        quiet = FillOnce(driverSides.back()) == 0 ? quiet + 1 : 0;
        win::Sleep(50);
      }
    }
  }
  void *packet = PatternPacket(60000);  // far more than a full connection finds room for
  std::vector<Outgoing> goodbyes;
  for (std::size_t i = 0; i < driverSides.size(); ++i) {
    goodbyes.push_back(PreparePacket(static_cast<std::int32_t>(driverSides[i]),
                                     testing_support::TestAddress(static_cast<int>(i) + 1).c_str(),
                                     packet));
  }
  auto start = std::chrono::steady_clock::now();
  TransmitTogether(goodbyes, kWindowMs);
  auto took = std::chrono::steady_clock::now() - start;

  EXPECT_LT(took, std::chrono::milliseconds(4 * kWindowMs)) << "one window, not one per station";
  for (int i = 0; i < kDeaf; ++i) EXPECT_EQ(goodbyes[i].result, SendResult::kFailed) << i;
  EXPECT_EQ(goodbyes[kDeaf].result, SendResult::kSent);
  std::vector<char> received(dwPktGetPacketLength(packet));
  std::size_t got = 0;
  while (got < received.size() && testing_support::WaitReadable(stationSides[kDeaf], 10000)) {
    int rc = win::recv(stationSides[kDeaf], received.data() + got,
                       static_cast<int>(received.size() - got), 0);
    if (rc <= 0) break;
    got += static_cast<std::size_t>(rc);
  }
  EXPECT_EQ(got, received.size());
  for (win::SOCKET s : driverSides) win::closesocket(s);
  for (win::SOCKET s : stationSides) win::closesocket(s);
  iPktFreePacket(packet);
}

}  // namespace
