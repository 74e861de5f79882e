// The broker session on the client library of the Linux distribution, driven by a loop
// of its own: the thread waits on the client's socket and on an event that the outbox
// raises, so a sample goes out as soon as it is put, and an idle session costs nothing.
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "runner/mqtt/broker_session.h"
#include "runner/mqtt/publish_outcome.h"
#include "runner/mqtt/sample_store.h"
#include "runner/mqtt/store_forward.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;
// Messages handed to the client and not yet acknowledged: enough to fill a loopback or
// plant network, few enough that the outbox, not the client, holds what waits. One more
// is allowed by the client, so that the goodbye never waits behind a full window.
constexpr std::size_t kInFlight = 100;
constexpr auto kFirstPause = std::chrono::seconds(1);
constexpr auto kLongestPause = std::chrono::seconds(30);
constexpr auto kConnackDeadline = std::chrono::seconds(10);
constexpr auto kGoodbyeDeadline = std::chrono::seconds(1);
// A connection that lasted this long was a good one: the next pause starts short again.
// A broker that takes the connection and drops it at once is not tried every second.
constexpr auto kSteadyConnection = std::chrono::seconds(30);
// While a connection is being made (TLS too), the socket can be writable while the
// client has nothing it can write yet; the thread then looks again after this long.
constexpr int kStalledWriteMs = 10;
constexpr int kIdleWaitMs = 1000;  // the client's keep-alive is looked after this often

enum class Phase { kIdle, kConnecting, kConnected, kRefused };

// A message handed to the client and not yet acknowledged.
struct InFlight {
  bool sample = false;
  std::int64_t stored = 0;  // its id in the store, 0 when it is not there
};

// CONNACK codes that a new attempt cannot change: the protocol version, the client id,
// the user name or password, the authorisation (MQTT 3.1.1's codes, then MQTT 5's).
bool FinalRefusal(int connack, bool v5) {
  if (!v5) return connack == 1 || connack == 2 || connack == 4 || connack == 5;
  return connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || connack == MQTT_RC_CLIENTID_NOT_VALID ||
         connack == MQTT_RC_BAD_USERNAME_OR_PASSWORD || connack == MQTT_RC_NOT_AUTHORIZED ||
         connack == MQTT_RC_BANNED || connack == MQTT_RC_BAD_AUTHENTICATION_METHOD;
}

// A broker that does not speak MQTT 5 answers its CONNECT so.
bool OnlyOlderProtocol(int connack) {
  return connack == 1 || connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
}

// The reason as a sentence goes on: "refused the connection: not authorized".
std::string ReasonText(int code, bool v5) {
  std::string text = v5 ? mosquitto_reason_string(code) : mosquitto_connack_string(code);
  if (v5 && !text.empty())
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string ErrorText(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

bool ReadPassword(const std::string &file, std::string *password, std::string *error) {
  std::ifstream in(file);
  if (!in || !std::getline(in, *password)) {
    *error = "cannot read the MQTT password file " + file;
    return false;
  }
  if (!password->empty() && password->back() == '\r') password->pop_back();
  if (password->empty()) {
    *error = "the MQTT password file " + file + " begins with an empty line";
    return false;
  }
  return true;
}

}  // namespace

struct BrokerSession::Impl {
  MqttSettings settings;
  std::string clientId;
  std::string statusTopic;
  Outbox *outbox;
  Notice notice;
  Greeting greeting;

  mosquitto *client = nullptr;
  int wakeFd = -1;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<long> drainMs{0};

  // Owned by the thread.
  Phase phase = Phase::kIdle;
  bool everConnected = false;
  SteadyClock::time_point nextAttempt{};
  SteadyClock::duration pause = kFirstPause;
  SteadyClock::time_point connackDeadline{};
  SteadyClock::time_point connectedAt{};
  bool writeStalled = false;
  std::map<int, InFlight> inFlight;  // by message id
  bool offlineAcked = false;
  int offlineMid = -1;
  long droppedTold = 0;
  SteadyClock::time_point lastDropNotice{};
  // MQTT 5 shows in its acknowledgements whether the broker took a message; a broker that
  // speaks only 3.1.1 is used with that.
  bool v5 = true;
  long refusedTold = 0;
  SteadyClock::time_point lastRefusalNotice{};
  SteadyClock::time_point lastTakeoverNotice{};
  int shortLived = 0;  // connections in a row that the broker dropped within kSteadyConnection

  // With --mqtt-store; opened before the thread starts, then the thread's.
  std::unique_ptr<SampleStore> store;
  std::unique_ptr<StoreForward> keeper;
  std::map<int, long> storedSequences;

  mutable std::mutex mutex;  // guards what other threads read
  SessionReport report;
  std::string refusal;
  std::string lastRefusal;  // the broker's reason for the latest refused sample

  void Tell(const std::string &text) {
    if (notice) notice(std::chrono::system_clock::now(), text);
  }
  std::string Broker() const { return "the broker " + settings.BrokerText(); }

  bool Setup(std::string *error);
  bool OpenStore(std::string *error);
  void HandOverStored();
  void Loop();
  void Attempt();
  void Lost(const std::string &why);
  void HandOver();
  bool Publish(const OutMessage &message, std::int64_t stored);
  void WaitAndService(int timeoutMs);
  void Service(short events, bool wantsWrite);
  int TimeoutMs() const;
  int PhaseTimeoutMs() const;
  void Goodbye();
  void Wake() const;
  void TellDrops();

  void TellRefusals();
  void TellTakeover(bool certain);

  static void OnConnect(mosquitto *, void *self, int rc, int flags, const mosquitto_property *);
  static void OnDisconnect(mosquitto *, void *self, int rc, const mosquitto_property *);
  static void OnPublish(mosquitto *, void *self, int mid, int reason, const mosquitto_property *);
};

bool BrokerSession::Impl::Setup(std::string *error) {
  std::string password;
  if (!settings.passwordFile.empty() && !ReadPassword(settings.passwordFile, &password, error)) {
    return false;
  }
  mosquitto_lib_init();
  client = mosquitto_new(clientId.c_str(), true, this);
  wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (client == nullptr || wakeFd < 0) {
    *error = "cannot set up the MQTT client: " + std::string(std::strerror(errno));
    return false;
  }
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(client, &Impl::OnConnect);
  mosquitto_disconnect_v5_callback_set(client, &Impl::OnDisconnect);
  mosquitto_publish_v5_callback_set(client, &Impl::OnPublish);
  mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(kInFlight) + 1);
  mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  if (!settings.user.empty() &&
      mosquitto_username_pw_set(client, settings.user.c_str(), password.c_str()) != 0) {
    *error = "the MQTT user name or password cannot be used";
    return false;
  }
  std::fill(password.begin(), password.end(), '\0');
  if (!settings.caFile.empty() &&
      mosquitto_tls_set(client, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr) != 0) {
    *error = "cannot use the CA file " + settings.caFile + " for TLS to the MQTT broker";
    return false;
  }
  int rc = mosquitto_will_set(client, statusTopic.c_str(), sizeof kStatusOffline - 1,
                              kStatusOffline, kQos, true);
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = "cannot publish to the topic " + statusTopic + ": " + ErrorText(rc);
    return false;
  }
  return settings.storePath.empty() || OpenStore(error);
}

// A store that another runner holds ends the start; one that cannot be used now (a
// read-only folder, a full disk) leaves the run publishing from memory, which is said.
bool BrokerSession::Impl::OpenStore(std::string *error) {
  store = std::make_unique<SampleStore>();
  std::vector<std::string> notes;
  std::string why;
  SampleStore::Opened opened = store->Open(settings.storePath, settings.storeMax, &notes, &why);
  for (const std::string &note : notes) Tell(note);
  if (opened == SampleStore::Opened::kHeld) {
    *error = why;
    return false;
  }
  if (opened == SampleStore::Opened::kFailed) {
    Tell(why +
         "; samples are kept in memory only, and lost if the runner ends before the "
         "broker has them");
    store.reset();
    return true;
  }
  storedSequences = store->Sequences();
  keeper = std::make_unique<StoreForward>(store.get(), static_cast<std::size_t>(settings.queue),
                                          [this](const std::string &text) { Tell(text); });
  return true;
}

void BrokerSession::Impl::OnConnect(mosquitto *, void *self, int rc, int,
                                    const mosquitto_property *) {
  auto *impl = static_cast<Impl *>(self);
  if (rc == 0) {
    impl->phase = Phase::kConnected;
    impl->connectedAt = SteadyClock::now();
    {
      std::lock_guard<std::mutex> lock(impl->mutex);
      ++impl->report.connections;
    }
    impl->everConnected = true;
    if (impl->keeper) impl->keeper->Connected(impl->connectedAt);
    impl->Tell("connected to " + impl->Broker());
    if (impl->greeting) impl->greeting();
    return;
  }
  std::string why = ReasonText(rc, impl->v5);
  if (impl->v5 && OnlyOlderProtocol(rc)) {
    impl->v5 = false;
    mosquitto_int_option(impl->client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    impl->Tell(impl->Broker() +
               " does not speak MQTT 5: using MQTT 3.1.1, with which a sample "
               "that the broker throws away cannot be told from one it took");
    impl->Lost(why);
    return;
  }
  if (!FinalRefusal(rc, impl->v5)) {
    impl->Lost(why);
    return;
  }
  // A broker that accepted the log-in before and refuses it now is taken as a moment of
  // its own (authentication not ready after a restart, a password being rotated): the
  // samples keep waiting and the log-in is tried again, loudly.
  if (impl->everConnected) {
    impl->Lost("refused the log-in: " + why + ", after it had accepted it; not given up");
    return;
  }
  impl->phase = Phase::kRefused;
  std::string refusal =
      "the MQTT broker " + impl->settings.BrokerText() + " refused the connection: " + why;
  if (rc == 2 || rc == MQTT_RC_CLIENTID_NOT_VALID)
    refusal += " (the client id '" + impl->clientId + "'; --mqtt-client-id sets another)";
  impl->Tell(refusal + "; the run ends");
  std::lock_guard<std::mutex> lock(impl->mutex);
  impl->refusal = refusal;
}

// Two gateways made from one machine image share the default client id and prefix: each
// login takes the other's connection away, they take turns on the broker and mix their
// samples. The broker says so (MQTT 5's "session taken over"), or, when its word is lost
// with the connection, connections that it accepts and drops again and again show it.
// Said at most every 10 minutes.
void BrokerSession::Impl::TellTakeover(bool certain) {
  auto now = SteadyClock::now();
  if (lastTakeoverNotice != SteadyClock::time_point{} &&
      now - lastTakeoverNotice < std::chrono::minutes(10)) {
    return;
  }
  lastTakeoverNotice = now;
  std::string sameId = "another client logged in to " + Broker() +
                       " with this runner's client id '" + clientId + "'";
  std::string what = certain ? sameId + " and took the connection"
                             : Broker() + " accepted the connection and dropped it " +
                                   std::to_string(shortLived) + " times in a row; if " + sameId +
                                   ", the two take turns";
  Tell(what + ": each gateway needs its own --mqtt-client-id and --mqtt-prefix");
}

void BrokerSession::Impl::OnDisconnect(mosquitto *, void *self, int rc,
                                       const mosquitto_property *) {
  auto *impl = static_cast<Impl *>(self);
  if (impl->phase == Phase::kRefused || impl->stopping) return;
  if (rc == MQTT_RC_SESSION_TAKEN_OVER) impl->TellTakeover(true);
  if (impl->phase == Phase::kConnecting || impl->phase == Phase::kConnected) {
    bool reason = impl->v5 && rc >= MQTT_RC_UNSPECIFIED;
    impl->Lost(rc == 0 ? "closed" : reason ? ReasonText(rc, true) : ErrorText(rc));
  }
}

// With MQTT 5 the acknowledgement says whether the broker took the message: one it
// refused (not authorised for the topic, too large, over a quota) is counted as refused,
// never as published, and is not sent again.
void BrokerSession::Impl::OnPublish(mosquitto *, void *self, int mid, int reason,
                                    const mosquitto_property *) {
  auto *impl = static_cast<Impl *>(self);
  if (mid == impl->offlineMid) impl->offlineAcked = true;
  auto found = impl->inFlight.find(mid);
  if (found == impl->inFlight.end()) return;
  if (impl->keeper) impl->keeper->Acknowledged(found->second.stored);
  bool refused = reason >= MQTT_RC_UNSPECIFIED;
  if (found->second.sample) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    ++(refused ? impl->report.refused : impl->report.published);
    if (refused) impl->lastRefusal = ReasonText(reason, true);
  }
  impl->inFlight.erase(found);
}

// At the first refusal and then at most every 10 s, with the count so far.
void BrokerSession::Impl::TellRefusals() {
  long refused = 0;
  std::string why;
  {
    std::lock_guard<std::mutex> lock(mutex);
    refused = report.refused;
    why = lastRefusal;
  }
  auto now = SteadyClock::now();
  if (refused == refusedTold ||
      (refusedTold > 0 && now - lastRefusalNotice < std::chrono::seconds(10))) {
    return;
  }
  refusedTold = refused;
  lastRefusalNotice = now;
  Tell(Broker() + " refused samples (" + why + "): " + std::to_string(refused) +
       " so far, counted as refused, not published");
}

// Messages that the client holds for a connection that broke are sent again by the
// client itself once it is back, so nothing is taken from the outbox twice.
void BrokerSession::Impl::Lost(const std::string &why) {
  bool wasConnected = phase == Phase::kConnected;
  phase = Phase::kIdle;
  if (keeper) keeper->Disconnected();
  bool steady = SteadyClock::now() - connectedAt >= kSteadyConnection;
  if (wasConnected && steady) pause = kFirstPause;
  if (wasConnected) shortLived = steady ? 0 : shortLived + 1;
  if (shortLived >= 3) TellTakeover(false);
  nextAttempt = SteadyClock::now() + pause;
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(pause).count();
  Tell((wasConnected ? "lost " : "cannot reach ") + Broker() + " (" + why + "); trying again in " +
       std::to_string(seconds) + " s");
  pause = std::min<SteadyClock::duration>(pause * 2, kLongestPause);
}

void BrokerSession::Impl::Attempt() {
  int rc = everConnected ? mosquitto_reconnect_async(client)
                         : mosquitto_connect_async(client, settings.host.c_str(),
                                                   settings.PortInUse(), kKeepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    phase = Phase::kConnecting;  // so that Lost tells it as a failed attempt
    Lost(ErrorText(rc));
    return;
  }
  phase = Phase::kConnecting;
  connackDeadline = SteadyClock::now() + kConnackDeadline;
}

void BrokerSession::Impl::HandOver() {
  if (keeper) {
    HandOverStored();
    return;
  }
  while (phase == Phase::kConnected && inFlight.size() < kInFlight) {
    std::vector<OutMessage> batch = outbox->Take(kInFlight - inFlight.size());
    if (batch.empty()) return;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if (Publish(batch[i], 0)) continue;
      outbox->PutBack(
          std::vector<OutMessage>(batch.begin() + static_cast<long>(i) + 1, batch.end()));
      return;
    }
  }
}

// False when the connection broke while the message was handed over: the client keeps
// it and sends it again, so it counts as in flight, and the rest waits. A message the
// client refuses outright (too large, say) could never be sent: it is told and let go.
bool BrokerSession::Impl::Publish(const OutMessage &m, std::int64_t stored) {
  int mid = 0;
  int rc = mosquitto_publish(client, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                             m.payload.data(), kQos, m.retain);
  if (rc == MOSQ_ERR_SUCCESS || HeldByClient(rc, mid)) {
    inFlight[mid] = {m.sample, stored};
    return rc == MOSQ_ERR_SUCCESS;
  }
  Tell("cannot publish to " + m.topic + " (" + ErrorText(rc) + "); the message is dropped");
  if (keeper) keeper->Acknowledged(stored);
  if (m.sample) {
    std::lock_guard<std::mutex> lock(mutex);
    ++report.rejected;
  }
  return true;
}

// Every sample waiting goes to the store first (written within a moment); then, while
// the broker is there, the states, the live samples and the backlog, within the window.
void BrokerSession::Impl::HandOverStored() {
  auto now = SteadyClock::now();
  keeper->Keep(outbox->TakeSamples(), now);
  keeper->Write(now, false);
  while (phase == Phase::kConnected && inFlight.size() < kInFlight) {
    std::vector<OutMessage> states = outbox->TakeStates(kInFlight - inFlight.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (Publish(states[i], 0)) continue;
      outbox->PutBack(
          std::vector<OutMessage>(states.begin() + static_cast<long>(i) + 1, states.end()));
      return;
    }
    if (inFlight.size() >= kInFlight) return;
    std::vector<StoreForward::Outgoing> samples = keeper->Next(kInFlight - inFlight.size(), now);
    if (states.empty() && samples.empty()) return;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (Publish(samples[i].message, samples[i].id)) continue;
      keeper->PutBack(std::vector<StoreForward::Outgoing>(
          samples.begin() + static_cast<long>(i) + 1, samples.end()));
      return;
    }
  }
}

int BrokerSession::Impl::TimeoutMs() const {
  if (keeper) return keeper->TimeoutMs(SteadyClock::now(), PhaseTimeoutMs());
  return PhaseTimeoutMs();
}

int BrokerSession::Impl::PhaseTimeoutMs() const {
  auto until = [](SteadyClock::time_point at) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - SteadyClock::now());
    return static_cast<int>(std::clamp<long long>(ms.count() + 1, 0, kIdleWaitMs));
  };
  if (phase == Phase::kIdle) return until(nextAttempt);
  if (phase == Phase::kConnecting) {
    return writeStalled ? std::min(kStalledWriteMs, until(connackDeadline))
                        : until(connackDeadline);
  }
  return kIdleWaitMs;
}

void BrokerSession::Impl::WaitAndService(int timeoutMs) {
  int socket = mosquitto_socket(client);
  bool active = (phase == Phase::kConnecting || phase == Phase::kConnected) && socket >= 0;
  bool wantsWrite = mosquitto_want_write(client);
  pollfd fds[2] = {{wakeFd, POLLIN, 0}, {socket, POLLIN, 0}};
  if (wantsWrite && !writeStalled) fds[1].events |= POLLOUT;
  if (poll(fds, active ? 2 : 1, timeoutMs) > 0 && (fds[0].revents & POLLIN) != 0) {
    eventfd_t ignored = 0;
    eventfd_read(wakeFd, &ignored);
  }
  if (active) Service(fds[1].revents, wantsWrite);
  if (phase == Phase::kConnecting && SteadyClock::now() >= connackDeadline) {
    Lost("no answer within 10 s");
  }
}

void BrokerSession::Impl::Service(short events, bool wantsWrite) {
  if ((events & (POLLIN | POLLERR | POLLHUP)) != 0) mosquitto_loop_read(client, 1);
  bool writable = (events & POLLOUT) != 0 || writeStalled;
  if (mosquitto_socket(client) >= 0 && wantsWrite && writable) mosquitto_loop_write(client, 1);
  if (mosquitto_socket(client) >= 0) mosquitto_loop_misc(client);
  writeStalled = phase == Phase::kConnecting && writable && mosquitto_socket(client) >= 0 &&
                 mosquitto_want_write(client);
  bool gone = mosquitto_socket(client) < 0;
  if (gone && (phase == Phase::kConnecting || phase == Phase::kConnected)) Lost("connection lost");
}

// At most every 10 s, so that a broker away for hours does not flood the log.
void BrokerSession::Impl::TellDrops() {
  long dropped = outbox->Dropped() + (keeper ? keeper->Dropped() : 0);
  auto now = SteadyClock::now();
  if (dropped == droppedTold ||
      (droppedTold > 0 && now - lastDropNotice < std::chrono::seconds(10))) {
    return;
  }
  droppedTold = dropped;
  lastDropNotice = now;
  std::string full = keeper ? "the store is full (" + std::to_string(settings.storeMax) + " bytes)"
                            : "the queue is full (" + std::to_string(settings.queue) + " samples)";
  Tell(full + ": dropped the oldest, " + std::to_string(dropped) + " so far");
}

void BrokerSession::Impl::Wake() const {
  if (wakeFd >= 0) eventfd_write(wakeFd, 1);
}

void BrokerSession::Impl::Loop() {
  SteadyClock::time_point drainEnd{};
  bool draining = false;
  while (phase != Phase::kRefused) {
    if (stopping && !draining) {
      draining = true;
      drainEnd = SteadyClock::now() + std::chrono::milliseconds(drainMs.load());
    }
    bool sent = outbox->Empty() && inFlight.empty() && (!keeper || keeper->Idle());
    if (draining && (phase != Phase::kConnected || sent || SteadyClock::now() >= drainEnd)) {
      break;
    }
    if (phase == Phase::kIdle && SteadyClock::now() >= nextAttempt) Attempt();
    HandOver();
    WaitAndService(TimeoutMs());
    TellDrops();
    TellRefusals();
  }
  if (phase == Phase::kConnected) Goodbye();
  // What the broker did not take stays in the store for the next run.
  if (keeper) {
    keeper->Keep(outbox->TakeSamples(), SteadyClock::now());
    keeper->Write(SteadyClock::now(), true);
  }
}

// A runner that ends says offline itself: the broker keeps the will for one that dies.
void BrokerSession::Impl::Goodbye() {
  int rc = mosquitto_publish(client, &offlineMid, statusTopic.c_str(), sizeof kStatusOffline - 1,
                             kStatusOffline, kQos, true);
  auto deadline = SteadyClock::now() + kGoodbyeDeadline;
  while (rc == MOSQ_ERR_SUCCESS && !offlineAcked && phase == Phase::kConnected &&
         SteadyClock::now() < deadline) {
    WaitAndService(50);
  }
  // Without the broker's word that it has the offline, the connection is dropped without
  // a goodbye, so that the broker publishes the will instead.
  if (!offlineAcked) return;
  mosquitto_disconnect(client);
  if (mosquitto_socket(client) >= 0 && mosquitto_want_write(client)) {
    mosquitto_loop_write(client, 1);
  }
}

BrokerSession::BrokerSession(const MqttSettings &settings, std::string clientId,
                             std::string statusTopic, Outbox *outbox, Notice notice,
                             Greeting greeting)
    : impl_(std::make_unique<Impl>()) {
  impl_->settings = settings;
  impl_->clientId = std::move(clientId);
  impl_->statusTopic = std::move(statusTopic);
  impl_->outbox = outbox;
  impl_->notice = std::move(notice);
  impl_->greeting = std::move(greeting);
}

BrokerSession::~BrokerSession() {
  if (impl_->thread.joinable()) Finish(std::chrono::milliseconds(0));
  impl_->outbox->SetWake(nullptr);
  if (impl_->client != nullptr) {
    mosquitto_destroy(impl_->client);
    mosquitto_lib_cleanup();
  }
  if (impl_->wakeFd >= 0) close(impl_->wakeFd);
}

bool BrokerSession::Supported() {
  return true;
}

std::string BrokerSession::HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

bool BrokerSession::Start(std::string *error) {
  if (!impl_->Setup(error)) return false;
  Impl *impl = impl_.get();
  impl_->outbox->SetWake([impl] { impl->Wake(); });
  impl_->thread = std::thread([impl] {
    // The client library (and TLS beneath it) writes to the broker's socket with write(),
    // which raises SIGPIPE on this thread once the broker has reset the connection. Held
    // back here, a broken connection is an error the session handles, not the runner's
    // end; the rest of the runner keeps the usual SIGPIPE (a closed output pipe ends it).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    impl->Loop();
  });
  return true;
}

std::map<int, long> BrokerSession::StoredSequences() const {
  return impl_->storedSequences;
}

bool BrokerSession::Refused(std::string *why) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->refusal.empty()) return false;
  if (why != nullptr) *why = impl_->refusal;
  return true;
}

SessionReport BrokerSession::Finish(std::chrono::milliseconds drain) {
  if (impl_->thread.joinable()) {
    impl_->drainMs = static_cast<long>(drain.count());
    impl_->stopping = true;
    impl_->Wake();
    impl_->thread.join();
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  SessionReport report = impl_->report;
  long inFlightSamples = 0;
  for (const auto &entry : impl_->inFlight) {
    inFlightSamples += entry.second.sample && entry.second.stored == 0 ? 1 : 0;
  }
  report.unsent = static_cast<long>(impl_->outbox->Samples()) + inFlightSamples;
  if (impl_->keeper) {
    report.unsent += impl_->keeper->InMemory();
    report.stored = static_cast<long>(impl_->store->Count());
    report.rejected += impl_->keeper->Dropped();
  }
  return report;
}
