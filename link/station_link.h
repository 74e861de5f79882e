// One station's connection. This record owns the station's socket from the moment a
// connection is installed until it is closed, so that a socket number is never polled,
// read, written or closed by anyone it was not handed to, even when the platform hands
// the same number to the next connection:
// - whoever connects (cold start, warm start, the re-open thread) installs the socket
//   here, after the station has its packet objects;
// - senders borrow the current connection for one whole packet at a time;
// - only the receiving thread reads, and only it closes sockets while the driver runs:
//   a connection that is replaced or failed is retired, and the receiving thread closes
//   it once no send is using it. Driver end closes what is left, after the threads let go.
//
// The record's lock is held only for short bookkeeping, and no host call (gates, link
// status, message wait, logging) is ever made under it or under a send.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "contracts/instance_block.h"
#include "platform/lock.h"

class StationLink {
 public:
  struct Connection {
    std::int32_t socket;   // kNoSocket when the station has none
    std::uint32_t number;  // counts the station's connections; a reused socket is still new
  };

  // The block's station entry shows the current socket and the packet objects until
  // Detach (driver end), after which the block is no longer written.
  void Attach(StationEntry *mirror);
  // A count shared by all the instance's links, moved on with each change of any of them.
  void ReportChangesTo(std::atomic<std::uint32_t> *anyChange) { anyChange_ = anyChange; }
  void Detach();

  Connection Current() const;

  // Makes `socket` the station's connection; one that it replaces is retired.
  void Install(std::int32_t socket);
  // Installs `socket` only while the station has no connection and no one is replacing
  // it; false otherwise.
  bool InstallIfVacant(std::int32_t socket);
  // Retires the current connection; false when there was none.
  bool Retire();
  // Whether the station waits for someone to connect it: no connection, and no
  // replacement under way.
  bool Vacant() const;
  // A replacement (warm start) begins: the current connection is retired, and until the
  // new one is installed (or the replacement is given up) the station is not vacant, so
  // that the re-open thread does not connect it at the same time: a station keeps one
  // connection and drops the older when a newer arrives. False when there was no
  // connection to retire.
  bool BeginReplacement();
  // The replacement could not connect: the station is vacant from now on.
  void GiveUpReplacement();

  // A send of one whole packet on the current connection. While it lasts, no other send
  // runs and the socket stays open; the station's packet objects are the sender's.
  // The station's packet library objects: whoever holds this uses them alone.
  class Objects {
   public:
    explicit Objects(StationLink &link) : link_(link), exclusive_(link.sending_) {}
    Objects(const Objects &) = delete;
    Objects &operator=(const Objects &) = delete;
    void *packet() const { return link_.packet_; }
    void *message() const { return link_.message_; }
    void Set(void *packet, void *message);

   protected:
    StationLink &link_;

   private:
    std::lock_guard<std::mutex> exclusive_;
  };

  class Send : public Objects {
   public:
    explicit Send(StationLink &link);
    ~Send();
    std::int32_t socket() const { return connection_.socket; }
    // An earlier packet on this connection did not go out whole: nothing more may be
    // sent on it, since the station would read it out of step.
    bool broken() const { return broken_; }
    // The packet did not go out whole: the stream is out of step, the link must fail.
    void Broken();

   private:
    Connection connection_;
    bool broken_ = false;
  };

  // ---- the receiving thread ----
  struct Look {
    Connection connection;
    bool sendBroke;  // a send on it did not go out whole
  };
  // Before each pass's wait: closes the retired sockets that no send is using, and tells
  // the current connection, in one go. `*seen` is the link's change count at the caller's
  // last look: while nothing has changed since, `*cached` is still true and is returned
  // without taking the lock (hundreds of stations are looked at ten times a second).
  Look LookBeforeWait(std::uint32_t *seen, const Look &cached);
  // Retires connection `number` if it is still the current one; false when it is not.
  bool Fail(std::uint32_t number);
  // Closes the retired sockets that no send is using.
  void CloseRetired();

  // ---- driver end, once the threads have let go ----
  // Closes every retired socket; the current one stays for the goodbye.
  void CloseAllRetired();
  // Closes the current socket: closesocket's result, or 0 when there was none.
  int CloseCurrent();

 private:
  void Publish(std::int32_t socket);  // lock held
  void RetireLocked();                // lock held
  void CloseRetiredLocked();          // lock held
  void ChangedLocked() {
    changes_.fetch_add(1, std::memory_order_release);
    if (anyChange_ != nullptr) anyChange_->fetch_add(1, std::memory_order_release);
  }

  mutable win::Lock lock_;
  // Moves on, under the lock, with every change a look could see: the connection, a
  // broken send, a retired socket, a send's end (a retired socket may now be closed).
  std::atomic<std::uint32_t> changes_{0};
  std::atomic<std::uint32_t> *anyChange_ = nullptr;
  win::Lock sending_;
  // All guarded by lock_:
  std::int32_t socket_ = kNoSocket;
  bool replacing_ = false;
  std::uint32_t number_ = 0;
  std::vector<std::int32_t> retired_;
  std::int32_t socketInSend_ = kNoSocket;
  std::uint32_t brokenNumber_ = 0;  // 0: none
  StationEntry *mirror_ = nullptr;
  // Guarded by sending_:
  void *packet_ = nullptr;
  void *message_ = nullptr;
};
