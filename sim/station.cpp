// The station runs on one thread of its own: it polls its listener and its connection,
// reads and answers the driver's packets and sends samples when they are due. Calls from
// other threads that touch the sockets are handed to that thread as commands, so that a
// socket is only ever used, and closed, by the one thread.
#include "sim/station.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "platform/lock.h"
#include "platform/winapi.h"
#include "sim/net.h"
#include "sim/random.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kBacklog = 8;
constexpr int kFillerConnectMs = 1000;
constexpr int kListenRetryMs = 500;
constexpr int kSendTimeoutMs = 5000;
constexpr int kReadRounds = 16;
constexpr long kMaxReceivedPacket = 1 << 20;
// Field 106 of the driver's default update rate (10 s), for a configuration without it.
constexpr std::uint32_t kDefaultRateValue = 1000;
// Field 106 counts hundredths of a second.
constexpr int kMsPerRateUnit = 10;
constexpr std::uint32_t kMaxRateValue = 10000000;
constexpr std::int32_t kLengthTooLong = 100000;
constexpr std::int32_t kLengthTooShort = 17;
constexpr long kTotalLengthAt = 12;
constexpr std::uint16_t kStartCommand = 1;
// The magic with its bytes in the wrong order, as a station with a byte-order bug sends it.
constexpr std::uint8_t kWrongMagic[4] = {0xAD, 0xDE, 0xEF, 0xBE};
constexpr auto kMagicFirstByte = static_cast<std::uint8_t>(DOV_PAKT_MAGIC & 0xFF);  // little-endian

enum class Listening { kNone, kNormal, kLate };

Listening ListeningFor(FaultMode mode) {
  if (mode == FaultMode::kRefuse) return Listening::kNone;
  return mode == FaultMode::kLate ? Listening::kLate : Listening::kNormal;
}

std::uint16_t LoadU16(const void *data) {
  const auto *bytes = static_cast<const std::uint8_t *>(data);
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::string DescribeSample(const SampleRecord &sample, std::uint32_t sequence) {
  std::string text = "sample " + std::to_string(sequence) + ", counts";
  for (int i = 0; i < sample.channelCount; ++i) {
    text += " " + std::to_string(sample.channelCounts[i].Get());
  }
  return text;
}

}  // namespace

struct Station::Impl {
  explicit Impl(Options o) : options(std::move(o)), garbage(options.seed, 0xFFFFFFFFu) {}

  Options options;

  // The station thread's own state; other threads reach it only through Execute.
  Listening listening = Listening::kNone;
  win::SOCKET listener = INVALID_SOCKET;
  win::SOCKET filler = INVALID_SOCKET;
  win::SOCKET connection = INVALID_SOCKET;
  Clock::time_point listenRetryAt;
  Bytes input;
  int packetsOnConnection = 0;
  bool configured = false;
  bool startCommanded = false;
  std::uint32_t rateValue = 0;
  Clock::time_point nextSample;
  std::uint32_t sequence = 0;
  bool shortLengthNext = false;
  Random garbage;

  std::atomic<bool> connected{false};
  std::atomic<bool> sampling{false};
  std::atomic<int> periodMs{0};
  std::atomic<int> connections{0};
  std::atomic<int> samplesSent{0};
  std::atomic<int> packetsSent{0};
  std::atomic<int> writes{0};

  mutable win::Lock receivedMutex;
  std::vector<Packet> received;

  // apiMutex orders Start, Stop and commands; `alive` changes only under it.
  win::Lock apiMutex;
  bool alive = false;
  std::atomic<std::thread::id> threadId{};
  win::Lock commandMutex;
  std::deque<std::function<void()>> commands;
  win::Lock stopMutex;
  std::condition_variable stopSignal;
  bool stopping = false;
  std::thread thread;

  template <typename Result>
  Result Execute(std::function<Result()> work);
  void RunOnStationThread(const std::function<void()> &work);
  bool Start();
  void Stop();
  void Run();
  void RunCommands();
  bool Stopping();
  bool Pause(int ms);
  void Log(const std::string &text) const;

  bool OpenListener(Listening wanted);
  void CloseListener();
  void ReconcileListener();
  void Poll();
  void Accept();
  void Read();
  void ProcessInput();
  void HandlePacket(const Bytes &image);
  void TakeSamplePointConfig(void *message);
  void TakeControlCommand(void *message);
  void UpdateSampling();
  void SampleIfDue();

  int SendSamples();
  bool SendConfigInfo();
  int Deliver(std::vector<Bytes> packets);
  Bytes Disguise(Bytes packet);
  bool Write(const std::uint8_t *data, std::size_t length);
  bool WriteSplit(const Bytes &packet);
  void CloseIfDue();
  void CloseConnection(bool reset, const std::string &reason);
  void SetFault(FaultMode mode, int count);
};

// ---- lifetime and commands ----

template <typename Result>
Result Station::Impl::Execute(std::function<Result()> work) {
  // From the station's own thread (its log function): run at once, nothing to hand over.
  if (std::this_thread::get_id() == threadId.load()) return work();
  std::lock_guard<std::mutex> api(apiMutex);
  if (!alive) return work();
  if constexpr (std::is_void_v<Result>) {
    RunOnStationThread(work);
  } else {
    Result result{};
    RunOnStationThread([&] { result = work(); });
    return result;
  }
}

// A plain mutex and condition variable carry the hand-over, which thread checkers
// understand (they do not see through futures). The station thread runs every queued
// command, and Stop cannot come between (it takes apiMutex, which Execute holds).
void Station::Impl::RunOnStationThread(const std::function<void()> &work) {
  win::Lock doneMutex;
  std::condition_variable doneChanged;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(commandMutex);
    commands.push_back([&] {
      work();
      std::lock_guard<std::mutex> finished(doneMutex);
      done = true;
      doneChanged.notify_all();
    });
  }
  std::unique_lock<std::mutex> wait(doneMutex);
  doneChanged.wait(wait, [&] { return done; });
}

bool Station::Impl::Start() {
  std::lock_guard<std::mutex> api(apiMutex);
  if (alive) return true;
  if (!IsLoopbackAddress(options.address)) {
    Log("is not a loopback address (127.0.0.0/8): the simulator serves loopback only");
    return false;
  }
  win::WSADATA data;
  if (win::WSAStartup(0x0101, &data) != 0) return false;
  Listening wanted = ListeningFor(options.fault);
  if (wanted != Listening::kNone && !OpenListener(wanted)) {
    win::WSACleanup();
    return false;
  }
  if (wanted == Listening::kNone) Log("refuses connections (no listener)");
  {
    std::lock_guard<std::mutex> lock(stopMutex);
    stopping = false;
  }
  alive = true;
  thread = std::thread([this] {
    threadId.store(std::this_thread::get_id());
    Run();
  });
  return true;
}

void Station::Impl::Stop() {
  std::lock_guard<std::mutex> api(apiMutex);
  if (!alive) return;
  {
    std::lock_guard<std::mutex> lock(stopMutex);
    stopping = true;
  }
  stopSignal.notify_all();
  thread.join();
  threadId.store(std::thread::id());
  alive = false;
  win::WSACleanup();
}

void Station::Impl::Run() {
  while (!Stopping()) {
    RunCommands();
    ReconcileListener();
    Poll();
    SampleIfDue();
  }
  RunCommands();
  CloseConnection(false, "the station stops");
  CloseListener();
}

void Station::Impl::RunCommands() {
  for (;;) {
    std::function<void()> command;
    {
      std::lock_guard<std::mutex> lock(commandMutex);
      if (commands.empty()) return;
      command = std::move(commands.front());
      commands.pop_front();
    }
    command();
  }
}

bool Station::Impl::Stopping() {
  std::lock_guard<std::mutex> lock(stopMutex);
  return stopping;
}

// Waits ms unless the station is stopped meanwhile; false when it was.
bool Station::Impl::Pause(int ms) {
  std::unique_lock<std::mutex> lock(stopMutex);
  return !stopSignal.wait_for(lock, Milliseconds(ms), [this] { return stopping; });
}

void Station::Impl::Log(const std::string &text) const {
  if (options.log) options.log(options.address + " " + text);
}

// ---- listening ----

bool Station::Impl::OpenListener(Listening wanted) {
  int error = 0;
  int backlog = wanted == Listening::kLate ? 0 : kBacklog;
  listener = net::Listen(options.address, kStationPort, backlog, &error);
  if (listener == INVALID_SOCKET) {
    Log("cannot listen on port " + std::to_string(kStationPort) + ", error " +
        std::to_string(error));
    return false;
  }
  listening = wanted;
  if (wanted == Listening::kNormal) {
    Log("listening on port " + std::to_string(kStationPort));
    return true;
  }
  // With a backlog of 0 the one connection of our own fills the queue, so the kernel
  // drops the driver's connection request and its connect stays pending.
  filler = net::ConnectWithin(options.address, kStationPort, kFillerConnectMs);
  Log("listening with a full backlog: connects stay pending");
  return true;
}

void Station::Impl::CloseListener() {
  if (filler != INVALID_SOCKET) win::closesocket(filler);
  if (listener != INVALID_SOCKET) win::closesocket(listener);
  filler = listener = INVALID_SOCKET;
  listening = Listening::kNone;
}

void Station::Impl::ReconcileListener() {
  Listening wanted = ListeningFor(options.fault);
  if (wanted == listening || Clock::now() < listenRetryAt) return;
  CloseListener();
  if (wanted == Listening::kNone) {
    Log("refuses connections (no listener)");
  } else if (!OpenListener(wanted)) {
    listenRetryAt = Clock::now() + Milliseconds(kListenRetryMs);
  }
}

// ---- receiving ----

void Station::Impl::Poll() {
  win::fd_set readable;
  win::FdZero(&readable);
  bool any = false;
  if (listening == Listening::kNormal) {
    win::FdSet(listener, &readable);
    any = true;
  }
  if (connection != INVALID_SOCKET) {
    win::FdSet(connection, &readable);
    any = true;
  }
  win::timeval timeout{options.pollMs / 1000, options.pollMs % 1000 * 1000};
  if (!any || win::select(0, &readable, nullptr, nullptr, &timeout) < 0) {
    Pause(options.pollMs);
    return;
  }
  bool listenerReady = listening == Listening::kNormal && win::FdIsSet(listener, &readable);
  bool connectionReady = connection != INVALID_SOCKET && win::FdIsSet(connection, &readable);
  if (connectionReady) Read();
  if (listenerReady) Accept();
}

void Station::Impl::Accept() {
  win::sockaddr_in peer{};
  int peerLength = sizeof peer;
  win::SOCKET s = win::accept(listener, reinterpret_cast<win::sockaddr *>(&peer), &peerLength);
  if (s == INVALID_SOCKET) return;
  CloseConnection(false, "a new connection replaces it");
  net::SetNonBlocking(s);
  connection = s;
  connected = true;
  input.clear();
  packetsOnConnection = 0;
  configured = startCommanded = false;
  Log("accepted connection " + std::to_string(++connections) + " from " + net::PeerText(peer));
  CloseIfDue();
  if (connection != INVALID_SOCKET) SendConfigInfo();
}

void Station::Impl::Read() {
  char chunk[4096];
  // Bounded, so that a peer that never stops writing cannot hold up the samples.
  for (int round = 0; round < kReadRounds; ++round) {
    int n = win::recv(connection, chunk, sizeof chunk, 0);
    if (n > 0) {
      input.insert(input.end(), chunk, chunk + n);
      ProcessInput();
      if (connection == INVALID_SOCKET) return;
      continue;
    }
    int error = n == 0 ? 0 : win::WSAGetLastError();
    if (n == 0) CloseConnection(false, "the driver closed it");
    if (n < 0 && error != WSAEWOULDBLOCK) {
      CloseConnection(false, "receive failed, error " + std::to_string(error));
    }
    return;
  }
}

void Station::Impl::ProcessInput() {
  while (connection != INVALID_SOCKET) {
    long length = PacketLengthAt(input, kMaxReceivedPacket);
    if (length < 0) {
      Log("discards " + std::to_string(input.size()) + " bytes that do not start a packet");
      input.clear();
      return;
    }
    if (length == 0 || input.size() < static_cast<std::size_t>(length)) return;
    Bytes image(input.begin(), input.begin() + length);
    input.erase(input.begin(), input.begin() + length);
    HandlePacket(image);
  }
}

void Station::Impl::HandlePacket(const Bytes &image) {
  Packet packet = DecodePacket(image);
  for (const Message &message : packet.messages) Log("received " + Describe(message));
  {
    std::lock_guard<std::mutex> lock(receivedMutex);
    received.push_back(packet);
  }
  Bytes buffer = image;  // the codecs read messages in place
  bool leaving = false;
  bool wantsConfig = false;
  for (void *message = pvPktGetNextMessagePointer(buffer.data(), nullptr); message != nullptr;
       message = pvPktGetNextMessagePointer(buffer.data(), message)) {
    std::uint16_t type = wMsgGetMessageType(message);
    leaving = leaving || type == kMessageDriverEnd;
    wantsConfig = wantsConfig || type == kMessageGetConfig;
    if (type == kMessageSamplePointConfig) TakeSamplePointConfig(message);
    TakeControlCommand(message);
  }
  if (leaving) {
    CloseConnection(false, "the driver is leaving");
    return;
  }
  if (wantsConfig) SendConfigInfo();
  UpdateSampling();
}

void Station::Impl::TakeSamplePointConfig(void *message) {
  std::uint16_t idField =
      wMsgGetFieldByID(message, kFieldSamplePointId, wMsgGetFirstField(message));
  const void *id = pvMsgGetField(message, idField);
  std::uint16_t samplePointId =
      id != nullptr && wMsgGetFieldLength(message, idField) >= 2 ? LoadU16(id) : 0;
  SamplePointConfig config{};
  int rc = iConfigGetSamplePointConfig(message, samplePointId, &config);
  if (rc != 0) {
    Log("cannot read the sample point configuration, rc " + std::to_string(rc));
    return;
  }
  rateValue = config.id106Value.Get();
  configured = true;
}

void Station::Impl::TakeControlCommand(void *message) {
  if (wMsgGetFieldByID(message, kFieldControlCommand, wMsgGetFirstField(message)) == 0) return;
  std::uint16_t command = 0;
  std::uint16_t argument = 0;
  if (iCtrlGetCommand(message, &command, &argument) < 0) return;
  if (command == kStartCommand) {
    startCommanded = true;
  } else {
    Log("ignores control command " + std::to_string(command) + "," + std::to_string(argument));
  }
}

// ---- sampling ----

void Station::Impl::UpdateSampling() {
  if (!configured || !startCommanded) return;
  std::uint32_t rate = std::min(rateValue == 0 ? kDefaultRateValue : rateValue, kMaxRateValue);
  int period =
      options.samplePeriodMs > 0 ? options.samplePeriodMs : static_cast<int>(rate) * kMsPerRateUnit;
  if (sampling && period == periodMs) return;
  nextSample = Clock::now() + Milliseconds(period);
  periodMs = period;
  sampling = true;
  Log("samples every " + std::to_string(period) + " ms");
}

void Station::Impl::SampleIfDue() {
  if (!sampling || connection == INVALID_SOCKET || Clock::now() < nextSample) return;
  SendSamples();
  nextSample += Milliseconds(periodMs.load());
  if (nextSample < Clock::now()) nextSample = Clock::now() + Milliseconds(periodMs.load());
}

// ---- sending ----

int Station::Impl::SendSamples() {
  int count = options.fault == FaultMode::kBurst ? std::max(1, options.faultCount) : 1;
  std::vector<SampleRecord> samples;
  std::vector<Bytes> packets;
  for (int i = 0; i < count; ++i) {
    samples.push_back(MakeSample(options, sequence + static_cast<std::uint32_t>(i)));
    packets.push_back(SamplePacket(samples.back()));
  }
  int sent = Deliver(std::move(packets));
  for (int i = 0; i < sent; ++i) Log("sent " + DescribeSample(samples[i], sequence + i));
  sequence += static_cast<std::uint32_t>(sent);
  samplesSent += sent;
  return sent;
}

bool Station::Impl::SendConfigInfo() {
  if (Deliver({ConfigInfoPacket(options)}) == 0) return false;
  Log("sent configuration information");
  return true;
}

// Writes packets as the fault mode has them; returns how many went out.
int Station::Impl::Deliver(std::vector<Bytes> packets) {
  if (connection == INVALID_SOCKET || options.fault == FaultMode::kSilent) return 0;
  for (Bytes &packet : packets) packet = Disguise(std::move(packet));
  int sent = 0;
  if (options.fault == FaultMode::kBurst) {
    Bytes burst;
    for (const Bytes &packet : packets) burst.insert(burst.end(), packet.begin(), packet.end());
    sent = Write(burst.data(), burst.size()) ? static_cast<int>(packets.size()) : 0;
  } else {
    for (const Bytes &packet : packets) {
      bool ok = options.fault == FaultMode::kSplit ? WriteSplit(packet)
                                                   : Write(packet.data(), packet.size());
      if (!ok) break;
      ++sent;
    }
  }
  packetsSent += sent;
  packetsOnConnection += sent;
  CloseIfDue();
  return sent;
}

// The packet as the fault mode corrupts it.
Bytes Station::Impl::Disguise(Bytes packet) {
  if (packet.size() < static_cast<std::size_t>(kPaktPacketHeaderSize)) return packet;
  if (options.fault == FaultMode::kGarbage) {
    for (std::uint8_t &byte : packet) byte = static_cast<std::uint8_t>(garbage.Next());
    if (packet[0] == kMagicFirstByte) packet[0] = static_cast<std::uint8_t>(~kMagicFirstByte);
  } else if (options.fault == FaultMode::kWrongMagic) {
    std::copy(std::begin(kWrongMagic), std::end(kWrongMagic), packet.begin());
  } else if (options.fault == FaultMode::kImpossibleLength) {
    std::int32_t length = options.impossibleLength;
    if (length == 0) length = shortLengthNext ? kLengthTooShort : kLengthTooLong;
    shortLengthNext = !shortLengthNext;
    Bytes image = U32Bytes(static_cast<std::uint32_t>(length));
    std::copy(image.begin(), image.end(), packet.begin() + kTotalLengthAt);
  }
  return packet;
}

bool Station::Impl::Write(const std::uint8_t *data, std::size_t length) {
  auto deadline = Clock::now() + Milliseconds(kSendTimeoutMs);
  std::size_t done = 0;
  while (done < length && connection != INVALID_SOCKET) {
    int n = win::send(connection, reinterpret_cast<const char *>(data + done),
                      static_cast<int>(std::min<std::size_t>(length - done, INT_MAX)), 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    int error = win::WSAGetLastError();
    if (error == WSAEWOULDBLOCK && Clock::now() < deadline && !Stopping()) {
      net::WaitWritable(connection, options.pollMs);
      continue;
    }
    std::string reason = error != WSAEWOULDBLOCK ? "send failed, error " + std::to_string(error)
                         : Stopping()            ? std::string("the station stops")
                                                 : std::string("the driver does not read");
    CloseConnection(true, reason);
  }
  if (done < length) return false;
  ++writes;
  return true;
}

bool Station::Impl::WriteSplit(const Bytes &packet) {
  std::size_t pieces = static_cast<std::size_t>(std::max(1, options.splitPieces));
  pieces = std::min(pieces, packet.size());
  std::size_t at = 0;
  for (std::size_t piece = 0; piece < pieces; ++piece) {
    std::size_t end = piece + 1 == pieces ? packet.size() : at + packet.size() / pieces;
    if (piece > 0 && !Pause(options.splitPauseMs)) return false;
    if (!Write(packet.data() + at, end - at)) return false;
    at = end;
  }
  return true;
}

void Station::Impl::CloseIfDue() {
  bool closes = options.fault == FaultMode::kCloseAfter || options.fault == FaultMode::kResetAfter;
  if (!closes || connection == INVALID_SOCKET || packetsOnConnection < options.faultCount) return;
  CloseConnection(options.fault == FaultMode::kResetAfter,
                  "fault mode " + std::string(FaultName(options.fault)) + " after " +
                      std::to_string(packetsOnConnection) + " packets");
}

void Station::Impl::CloseConnection(bool reset, const std::string &reason) {
  if (connection == INVALID_SOCKET) return;
  if (reset) {
    net::CloseWithReset(connection);
  } else {
    net::CloseOrderly(connection);
  }
  connection = INVALID_SOCKET;
  connected = false;
  sampling = false;
  periodMs = 0;
  input.clear();
  Log(std::string(reset ? "reset" : "closed") + " the connection: " + reason);
}

void Station::Impl::SetFault(FaultMode mode, int count) {
  options.fault = mode;
  options.faultCount = count;
  packetsOnConnection = 0;
  if (!alive) return;
  Log("fault mode " + std::string(FaultName(mode)) + ", count " + std::to_string(count));
  listenRetryAt = Clock::time_point();
  ReconcileListener();
  CloseIfDue();
}

// ---- the public face ----

Bytes ConfigInfoPacket(const Options &options) {
  return ConfigInfoPacket(options.instrumentType, options.instrumentVersion,
                          "CountNet station " + options.address);
}

Station::Station(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Station::~Station() {
  Stop();
}

bool Station::Start() {
  return impl_->Start();
}

void Station::Stop() {
  impl_->Stop();
}

const std::string &Station::Address() const {
  return impl_->options.address;
}

bool Station::IsConnected() const {
  return impl_->connected;
}

bool Station::IsSampling() const {
  return impl_->sampling;
}

int Station::SamplePeriodMs() const {
  return impl_->periodMs;
}

int Station::Connections() const {
  return impl_->connections;
}

int Station::SamplesSent() const {
  return impl_->samplesSent;
}

int Station::PacketsSent() const {
  return impl_->packetsSent;
}

int Station::Writes() const {
  return impl_->writes;
}

std::vector<Packet> Station::Received() const {
  std::lock_guard<std::mutex> lock(impl_->receivedMutex);
  return impl_->received;
}

void Station::ClearReceived() {
  std::lock_guard<std::mutex> lock(impl_->receivedMutex);
  impl_->received.clear();
}

bool Station::SendBytes(const Bytes &bytes) {
  return impl_->Execute<bool>([this, &bytes] {
    return impl_->connection != INVALID_SOCKET && impl_->Write(bytes.data(), bytes.size());
  });
}

bool Station::SendSampleNow() {
  return impl_->Execute<bool>([this] { return impl_->SendSamples() > 0; });
}

void Station::DropConnection(bool reset) {
  impl_->Execute<void>([this, reset] { impl_->CloseConnection(reset, "dropped on request"); });
}

void Station::SetFault(FaultMode mode, int count) {
  impl_->Execute<void>([this, mode, count] { impl_->SetFault(mode, count); });
}

}  // namespace sim
