// A station driven in-process by a plain loopback client that stands where the driver
// stands: what the station sends and when, how it ends connections, and each fault mode.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "sim/station.h"
#include "tests/support/loopback.h"

namespace {

using sim::Bytes;
using sim::FaultMode;
using Clock = std::chrono::steady_clock;

// Generous: a loaded machine (or Wine) may be slow, and a passing test never waits it out.
constexpr int kPatienceMs = 5000;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(left.count());
}

enum class Ending { kOpen, kClosed, kReset, kFailed };

// Sends packets and collects the byte stream that the station writes.
class Client {
 public:
  explicit Client(const std::string &address)
      : socket_(testing_support::ConnectTo(address, kPatienceMs)) {}
  ~Client() {
    if (socket_ != INVALID_SOCKET) win::closesocket(socket_);
  }
  bool Connected() const { return socket_ != INVALID_SOCKET; }
  bool Send(const Bytes &bytes) {
    int length = static_cast<int>(bytes.size());
    return win::send(socket_, reinterpret_cast<const char *>(bytes.data()), length, 0) == length;
  }
  // The first `count` whole packets of the stream (fewer when the connection ends or
  // timeoutMs pass first).
  std::vector<Bytes> ReadPackets(size_t count) {
    ReadUntil([&] { return WholePackets(count).size() >= count; }, kPatienceMs);
    return WholePackets(count);
  }
  // The stream once it holds `size` bytes (or less, as above).
  const Bytes &ReadBytes(size_t size, int timeoutMs = kPatienceMs) {
    ReadUntil([&] { return stream_.size() >= size; }, timeoutMs);
    return stream_;
  }
  Ending ReadToEnd() {
    ReadUntil([] { return false; }, kPatienceMs);
    return ending_;
  }
  const Bytes &Stream() const { return stream_; }

 private:
  template <typename Done>
  void ReadUntil(Done done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && ending_ == Ending::kOpen && MsLeft(deadline) > 0) ReadSome(MsLeft(deadline));
  }
  void ReadSome(int timeoutMs) {
    if (socket_ == INVALID_SOCKET || !testing_support::WaitReadable(socket_, timeoutMs)) return;
    char chunk[4096];
    int n = win::recv(socket_, chunk, sizeof chunk, 0);
    if (n > 0) {
      stream_.insert(stream_.end(), chunk, chunk + n);
      return;
    }
    int error = n == 0 ? 0 : win::WSAGetLastError();
    if (n == 0) {
      // Wine reports a reset connection as the end of the stream; the reset then shows in
      // the next send, which succeeds after an orderly close.
      error = win::send(socket_, "", 1, 0) < 0 ? win::WSAGetLastError() : 0;
    }
    if (n == 0 && error == 0) {
      ending_ = Ending::kClosed;
    } else if (error == WSAECONNRESET || error == WSAECONNABORTED) {
      ending_ = Ending::kReset;
    } else if (error != WSAEWOULDBLOCK) {
      ending_ = Ending::kFailed;
    }
  }
  std::vector<Bytes> WholePackets(size_t most) const {
    std::vector<Bytes> packets;
    Bytes rest = stream_;
    for (long length; packets.size() < most && (length = sim::PacketLengthAt(rest)) > 0 &&
                      rest.size() >= static_cast<size_t>(length);) {
      packets.emplace_back(rest.begin(), rest.begin() + length);
      rest.erase(rest.begin(), rest.begin() + length);
    }
    return packets;
  }

  win::SOCKET socket_;
  Bytes stream_;
  Ending ending_ = Ending::kOpen;
};

enum class ConnectOutcome { kConnected, kRefused, kPending };

// What a connect to address:1561 has come to after waitMs.
ConnectOutcome TryConnect(const std::string &address, int waitMs) {
  win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
  win::u_long on = 1;
  win::ioctlsocket(s, FIONBIO, &on);
  win::sockaddr_in peer = testing_support::MakeAddress(address);
  auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  ConnectOutcome outcome = ConnectOutcome::kPending;
  while (outcome == ConnectOutcome::kPending && MsLeft(deadline) > 0) {
    int rc = win::connect(s, reinterpret_cast<win::sockaddr *>(&peer), sizeof peer);
    int error = rc == 0 ? 0 : win::WSAGetLastError();
    if (rc == 0 || error == WSAEISCONN) {
      outcome = ConnectOutcome::kConnected;
    } else if (error != WSAEWOULDBLOCK && error != WSAEALREADY && error != WSAEINVAL) {
      outcome = ConnectOutcome::kRefused;
    } else {
      win::Sleep(5);
    }
  }
  win::closesocket(s);
  return outcome;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes &part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

std::int32_t TotalLength(const Bytes &stream, size_t at) {
  std::int32_t total = 0;
  for (int i = 3; i >= 0; --i) total = total << 8 | stream[at + 12 + i];
  return total;
}

// A started station and a client connected to it.
struct Scene {
  const sim::Options &options;
  sim::Station &station;
  Client &client;
  const std::string &log;  // read it once the station has stopped
  Bytes ConfigInfo() const { return sim::ConfigInfoPacket(options); }
  Bytes Sample(std::uint32_t k) const { return sim::SamplePacket(sim::MakeSample(options, k)); }

  // Sends the chosen messages of the driver's sampling configuration (0 type 11, 1 the
  // start command) and then the start packet, which asks for the configuration
  // information again: once that is in, the station has handled the packet before it.
  void ExpectPeriod(std::vector<int> messages, std::uint32_t rateSeconds, int expectedMs) {
    sim::Packet config = sim::DecodePacket(sim::SamplingConfigPacket(rateSeconds));
    std::vector<sim::Message> chosen;
    for (int index : messages) chosen.push_back(config.messages[index]);
    ASSERT_TRUE(client.Send(sim::BuildPacket(chosen)) && client.Send(sim::StartPacket()));
    ASSERT_EQ(client.ReadPackets(2).size(), 2u);
    EXPECT_EQ(station.IsSampling(), expectedMs != 0);
    EXPECT_EQ(station.SamplePeriodMs(), expectedMs);
  }

  // how: 0 the driver's leaving message, 1 DropConnection(false), 2 DropConnection(true).
  void ExpectEnding(int how, Ending expected) {
    ASSERT_EQ(client.ReadPackets(1).size(), 1u);
    if (how == 0) {
      ASSERT_TRUE(client.Send(sim::LeavingPacket()));
    } else {
      station.DropConnection(how == 2);
    }
    EXPECT_EQ(client.ReadToEnd(), expected);
    EXPECT_TRUE(sim::WaitUntil([&] { return !station.IsConnected(); }, kPatienceMs));
    EXPECT_FALSE(station.SendBytes(sim::LeavingPacket()));
    EXPECT_EQ(station.Received().size(), how == 0 ? 1u : 0u);
  }
};

struct Case {
  const char *name;
  FaultMode mode;
  int count;       // faultCount
  int periodMs;    // samplePeriodMs; 0 takes it from field 106
  bool configure;  // the client sends the sampling configuration (10 s) first
  std::function<void(Scene &)> expect;
};

void PrintTo(const Case &c, std::ostream *out) {
  *out << c.name;
}

class SimStation : public ::testing::TestWithParam<Case> {
 protected:
  testing_support::WinsockSession winsock;
};

// A refusing or late station is first checked to take no connection, then cured.
TEST_P(SimStation, Behaves) {
  const Case &c = GetParam();
  sim::Options options;
  options.address = testing_support::TestAddress();
  options.instrumentType = "Counter T-1";
  options.instrumentVersion = "V 2.5";
  options.channelCount = 4;
  options.seed = 42;
  options.fault = c.mode;
  options.faultCount = c.count;
  options.samplePeriodMs = c.periodMs;
  options.splitPauseMs = 30;
  std::mutex logMutex;
  std::string log;
  options.log = [&](const std::string &line) {
    std::lock_guard<std::mutex> lock(logMutex);
    log += line + "\n";
  };
  sim::Station station(options);
  ASSERT_TRUE(station.Start());
  if (c.mode == FaultMode::kRefuse || c.mode == FaultMode::kLate) {
    EXPECT_EQ(TryConnect(options.address, 600),
              c.mode == FaultMode::kRefuse ? ConnectOutcome::kRefused : ConnectOutcome::kPending);
    EXPECT_EQ(station.Connections(), 0);
    station.SetFault(FaultMode::kNone);
  }
  Client client(options.address);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(!c.configure || client.Send(sim::SamplingConfigPacket(10)));
  Scene scene{options, station, client, log};
  c.expect(scene);
}

using F = FaultMode;
constexpr int kPeriodMs = 20;
constexpr size_t kHeaderSize = 18;

const Case kCases[] = {
    {"SendsItsConfigurationInformationOnEveryConnect", F::kNone, 0, 0, false,
     [](Scene &s) {
       std::vector<Bytes> packets = s.client.ReadPackets(1);
       ASSERT_EQ(packets.size(), 1u);
       void *message = pvPktGetNextMessagePointer(packets[0].data(), nullptr);
       EXPECT_EQ(wMsgGetMessageType(message), kMessageConfigInfo);
       EXPECT_STREQ(pszCfgGetInstrumentType(message), "Counter T-1");
       EXPECT_STREQ(pszCfgGetInstrumentVersion(message), "V 2.5");
       EXPECT_TRUE(sim::WaitUntil([&] { return s.station.IsConnected(); }, kPatienceMs));
       // A new connection replaces the old one, which the station closes.
       Client second(s.options.address);
       EXPECT_EQ(second.ReadPackets(1).size(), 1u);
       EXPECT_EQ(s.client.ReadToEnd(), Ending::kClosed);
       EXPECT_EQ(s.station.Connections(), 2);
     }},
    {"PushesItsSeededSamplesOnceConfiguredAndStarted", F::kNone, 0, kPeriodMs, true,
     [](Scene &s) {
       std::vector<Bytes> packets = s.client.ReadPackets(4);
       ASSERT_EQ(packets.size(), 4u);
       for (std::uint32_t k = 0; k < 3; ++k) EXPECT_EQ(packets[k + 1], s.Sample(k)) << k;
       std::vector<sim::Packet> received = s.station.Received();
       ASSERT_EQ(received.size(), 1u);
       ASSERT_EQ(received[0].messages.size(), 2u);
       EXPECT_EQ(received[0].messages[0].type, kMessageSamplePointConfig);
       EXPECT_EQ(received[0].messages[0].Find(106)->bytes, sim::U32Bytes(1000));
       EXPECT_EQ(received[0].messages[0].Find(107)->bytes, sim::U32Bytes(5000));
       EXPECT_EQ(received[0].messages[1].Find(129)->bytes, sim::U32Bytes(1));  // command 1, 0
       s.station.ClearReceived();
       EXPECT_TRUE(s.station.Received().empty());
       s.station.Stop();
       const std::string &address = s.options.address;
       EXPECT_NE(s.log.find(address + " received type 11: 114=0 101=0"), std::string::npos);
       EXPECT_NE(s.log.find(" 106=1000 107=5000 "), std::string::npos);
       EXPECT_NE(s.log.find(address + " received type 0: 129=1,0\n"), std::string::npos) << s.log;
     }},
    // Sampling needs both the configuration and the start command.
    {"ConfigurationOnly", F::kNone, 0, 0, false, [](Scene &s) { s.ExpectPeriod({0}, 10, 0); }},
    {"StartOnly", F::kNone, 0, 0, false, [](Scene &s) { s.ExpectPeriod({1}, 10, 0); }},
    {"PeriodFromField106", F::kNone, 0, 0, false,
     [](Scene &s) {
       s.ExpectPeriod({0, 1}, 1, 1000);
     }},
    {"PeriodFromField106StartFirst", F::kNone, 0, 0, false,
     [](Scene &s) {
       s.ExpectPeriod({1, 0}, 3, 3000);
     }},
    {"PeriodOverridden", F::kNone, 0, 25, false,
     [](Scene &s) {
       s.ExpectPeriod({0, 1}, 10, 25);
     }},
    {"LeavingMessage", F::kNone, 0, 0, false, [](Scene &s) { s.ExpectEnding(0, Ending::kClosed); }},
    {"Dropped", F::kNone, 0, 0, false, [](Scene &s) { s.ExpectEnding(1, Ending::kClosed); }},
    {"DroppedWithReset", F::kNone, 0, 0, false,
     [](Scene &s) { s.ExpectEnding(2, Ending::kReset); }},
    // Fault modes.
    {"Refuse", F::kRefuse, 0, kPeriodMs, true,
     [](Scene &s) { EXPECT_EQ(s.client.ReadPackets(1)[0], s.ConfigInfo()); }},
    {"Late", F::kLate, 0, kPeriodMs, true,
     [](Scene &s) { EXPECT_EQ(s.client.ReadPackets(1)[0], s.ConfigInfo()); }},
    {"Silent", F::kSilent, 0, kPeriodMs, true,
     [](Scene &s) {
       EXPECT_TRUE(sim::WaitUntil([&] { return s.station.IsSampling(); }, kPatienceMs));
       EXPECT_FALSE(s.station.SendSampleNow());
       EXPECT_TRUE(s.client.ReadBytes(1, 300).empty());
       EXPECT_EQ(s.station.PacketsSent(), 0);
       EXPECT_EQ(s.station.Received().size(), 1u);
     }},
    {"CloseAfterTwo", F::kCloseAfter, 2, kPeriodMs, true,
     [](Scene &s) {
       EXPECT_EQ(s.client.ReadToEnd(), Ending::kClosed);
       EXPECT_EQ(s.client.Stream(), Join({s.ConfigInfo(), s.Sample(0)}));
     }},
    {"CloseAtOnce", F::kCloseAfter, 0, kPeriodMs, false,
     [](Scene &s) {
       EXPECT_EQ(s.client.ReadToEnd(), Ending::kClosed);
       EXPECT_TRUE(s.client.Stream().empty());
     }},
    {"ResetAfterTwo", F::kResetAfter, 2, kPeriodMs, true,
     [](Scene &s) {
       EXPECT_EQ(s.client.ReadToEnd(), Ending::kReset);
       EXPECT_EQ(s.station.PacketsSent(), 2);
     }},
    {"WrongMagic", F::kWrongMagic, 0, kPeriodMs, true,
     [](Scene &s) {
       Bytes expected = s.ConfigInfo();
       const Bytes &stream = s.client.ReadBytes(expected.size());
       ASSERT_GE(stream.size(), expected.size());
       EXPECT_EQ(sim::PacketLengthAt(stream), -1);
       EXPECT_TRUE(std::equal(expected.begin() + 4, expected.end(), stream.begin() + 4));
     }},
    {"ImpossibleLength", F::kImpossibleLength, 0, kPeriodMs, true,
     [](Scene &s) {
       size_t first = s.ConfigInfo().size();
       const Bytes &stream = s.client.ReadBytes(first + kHeaderSize);
       ASSERT_GE(stream.size(), first + kHeaderSize);
       EXPECT_EQ(TotalLength(stream, 0), 100000);
       EXPECT_EQ(TotalLength(stream, first), 17);
     }},
    {"Garbage", F::kGarbage, 0, kPeriodMs, true,
     [](Scene &s) {
       Bytes packet = s.ConfigInfo();
       const Bytes &stream = s.client.ReadBytes(packet.size());
       ASSERT_GE(stream.size(), packet.size());
       EXPECT_EQ(sim::PacketLengthAt(stream), -1);
       EXPECT_NE(Bytes(stream.begin(), stream.begin() + 18),
                 Bytes(packet.begin(), packet.begin() + 18));
     }},
    {"Split", F::kSplit, 0, kPeriodMs, true,
     [](Scene &s) {
       Bytes expected = Join({s.ConfigInfo(), s.Sample(0), s.Sample(1)});
       ASSERT_EQ(s.client.ReadPackets(3).size(), 3u);
       EXPECT_EQ(Bytes(s.client.Stream().begin(), s.client.Stream().begin() + expected.size()),
                 expected);
       s.station.SetFault(F::kSilent);  // between two packets: the counts hold still
       EXPECT_EQ(s.station.Writes(), 3 * s.station.PacketsSent());
     }},
    {"BurstOfFour", F::kBurst, 4, kPeriodMs, true,
     [](Scene &s) {
       std::vector<Bytes> packets = s.client.ReadPackets(9);
       ASSERT_EQ(packets.size(), 9u);
       for (std::uint32_t k = 0; k < 8; ++k) EXPECT_EQ(packets[k + 1], s.Sample(k));
       s.station.SetFault(F::kSilent);
       EXPECT_EQ(s.station.SamplesSent() % 4, 0);
       EXPECT_EQ(s.station.Writes(), 1 + s.station.SamplesSent() / 4);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, SimStation, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) {
                           return info.param.name;
                         });

TEST(SimStationStart, RefusesAddressesOutsideLoopbackAndAddressesInUse) {
  testing_support::WinsockSession winsock;
  sim::Options options;
  options.address = "10.0.0.1";
  EXPECT_FALSE(sim::Station(options).Start());
  options.address = testing_support::TestAddress();
  sim::Station first(options);
  ASSERT_TRUE(first.Start());
  EXPECT_FALSE(sim::Station(options).Start());
  const struct {
    const char *address;
    bool loopback;
  } cases[] = {{"127.0.0.1", true},   {"127.255.255.254", true}, {"128.0.0.1", false},
               {"127.0.0", false},    {"127.0.0.1.2", false},    {"127.0.0.256", false},
               {"127.1", false},      {" 127.0.0.1", false},     {"localhost", false},
               {"127.0.0.1:1", false}};
  for (const auto &c : cases) EXPECT_EQ(sim::IsLoopbackAddress(c.address), c.loopback) << c.address;
}

}  // namespace
