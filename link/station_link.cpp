#include "link/station_link.h"

#include <algorithm>

#include "platform/winapi.h"

void StationLink::Attach(StationEntry *mirror) {
  std::lock_guard<std::mutex> guard(lock_);
  mirror_ = mirror;
}

void StationLink::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  mirror_ = nullptr;
}

StationLink::Connection StationLink::Current() const {
  std::lock_guard<std::mutex> guard(lock_);
  return {socket_, number_};
}

void StationLink::Publish(std::int32_t socket) {
  ChangedLocked();
  socket_ = socket;
  if (socket != kNoSocket) ++number_;
  if (mirror_ != nullptr) mirror_->socket.Store(socket);
}

void StationLink::RetireLocked() {
  std::int32_t socket = socket_;
  if (socket == kNoSocket) return;
  retired_.push_back(socket);
  Publish(kNoSocket);
}

void StationLink::Install(std::int32_t socket) {
  std::lock_guard<std::mutex> guard(lock_);
  RetireLocked();
  replacing_ = false;
  Publish(socket);
}

bool StationLink::InstallIfVacant(std::int32_t socket) {
  std::lock_guard<std::mutex> guard(lock_);
  if (socket_ != kNoSocket || replacing_) return false;
  Publish(socket);
  return true;
}

bool StationLink::Retire() {
  std::lock_guard<std::mutex> guard(lock_);
  if (socket_ == kNoSocket) return false;
  RetireLocked();
  return true;
}

bool StationLink::Vacant() const {
  std::lock_guard<std::mutex> guard(lock_);
  return socket_ == kNoSocket && !replacing_;
}

bool StationLink::BeginReplacement() {
  std::lock_guard<std::mutex> guard(lock_);
  replacing_ = true;
  if (socket_ == kNoSocket) return false;
  RetireLocked();
  return true;
}

void StationLink::GiveUpReplacement() {
  std::lock_guard<std::mutex> guard(lock_);
  replacing_ = false;
}

void StationLink::Objects::Set(void *packet, void *message) {
  link_.packet_ = packet;
  link_.message_ = message;
  std::lock_guard<std::mutex> guard(link_.lock_);
  if (link_.mirror_ == nullptr) return;
  link_.mirror_->packet.Set(packet);
  link_.mirror_->message.Set(message);
}

StationLink::Send::Send(StationLink &link) : Objects(link) {
  std::lock_guard<std::mutex> guard(link_.lock_);
  connection_ = {link_.socket_, link_.number_};
  broken_ = connection_.socket != kNoSocket && link_.brokenNumber_ == connection_.number;
  link_.socketInSend_ = connection_.socket;
}

StationLink::Send::~Send() {
  std::lock_guard<std::mutex> guard(link_.lock_);
  link_.socketInSend_ = kNoSocket;
  if (!link_.retired_.empty()) link_.ChangedLocked();
}

void StationLink::Send::Broken() {
  std::lock_guard<std::mutex> guard(link_.lock_);
  if (connection_.socket == kNoSocket) return;
  link_.brokenNumber_ = connection_.number;
  link_.ChangedLocked();
}

bool StationLink::Fail(std::uint32_t number) {
  std::lock_guard<std::mutex> guard(lock_);
  if (socket_ == kNoSocket || number_ != number) return false;
  RetireLocked();
  return true;
}

StationLink::Look StationLink::LookBeforeWait(std::uint32_t *seen, const Look &cached) {
  if (changes_.load(std::memory_order_acquire) == *seen) return cached;
  std::lock_guard<std::mutex> guard(lock_);
  if (!retired_.empty()) CloseRetiredLocked();
  // A socket that a send still holds stays retired: the count is left behind, so that the
  // next look tries again.
  std::uint32_t now = changes_.load(std::memory_order_relaxed);
  *seen = retired_.empty() ? now : now - 1;
  return {{socket_, number_}, brokenNumber_ == number_ && number_ != 0};
}

void StationLink::CloseRetired() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseRetiredLocked();
}

void StationLink::CloseRetiredLocked() {
  auto inUse = [this](std::int32_t socket) { return socket == socketInSend_; };
  for (std::int32_t socket : retired_) {
    if (!inUse(socket)) win::closesocket(static_cast<win::SOCKET>(socket));
  }
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                [&](std::int32_t socket) { return !inUse(socket); }),
                 retired_.end());
}

void StationLink::CloseAllRetired() {
  std::lock_guard<std::mutex> guard(lock_);
  for (std::int32_t socket : retired_) win::closesocket(static_cast<win::SOCKET>(socket));
  retired_.clear();
}

int StationLink::CloseCurrent() {
  std::lock_guard<std::mutex> guard(lock_);
  std::int32_t socket = socket_;
  if (socket == kNoSocket) return 0;
  // The block's field keeps the closed socket's number, as it always has after driver end.
  socket_ = kNoSocket;
  ChangedLocked();
  return win::closesocket(static_cast<win::SOCKET>(socket));
}
