// A simulated CountNet station on a loopback address: the device that the demo, the
// tests and a user without hardware connect the driver to.
//
// It listens on ADDRESS:1561 and serves one driver connection at a time (a new one
// replaces the old). On connect it sends its configuration information; once it has a
// sample point configuration (message type 11) and the start command (field 129 = 1, 0)
// it pushes one sample-data packet per update period. It answers a get-config request
// (type 2) with its configuration information again, and the leaving message (type 1) by
// closing the connection. Every packet it receives is decoded and kept, and logged when
// a log function is set. Fault modes make it misbehave in the ways a driver must survive.
//
// All methods may be called from any thread. The log function runs on the station's own
// thread; from inside it, every method but Stop (and the destructor) may be called.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/packets.h"

namespace sim {

constexpr unsigned short kStationPort = 1561;
constexpr int kDefaultFaultCount = 3;

enum class FaultMode {
  kNone,
  kSilent,            // accepts and reads, sends nothing at all
  kCloseAfter,        // orderly close after faultCount packets on a connection
  kResetAfter,        // reset (RST) after faultCount packets on a connection
  kGarbage,           // random bytes, never starting with the magic, instead of each packet
  kWrongMagic,        // packets whose magic is not 0xDEADBEEF
  kImpossibleLength,  // packets whose total length is below 18 or above 5000
  kSplit,             // each packet written in splitPieces pieces, splitPauseMs apart
  kBurst,             // faultCount sample packets in one write, each period
  kRefuse,            // no listener: connects are refused
  kLate,              // a full backlog: connects stay pending, nothing is accepted
};

// "none", "silent", "close", "reset", "garbage", "wrong-magic", "bad-length", "split",
// "burst", "refuse", "late".
const char *FaultName(FaultMode mode);
bool ParseFaultMode(const std::string &name, FaultMode *mode);

struct Options : SampleProfile {
  std::string address = "127.0.0.1";  // must lie in 127.0.0.0/8
  std::string instrumentType = "CountNet particle counter (simulated)";
  std::string instrumentVersion = "1.0";
  FaultMode fault = FaultMode::kNone;
  int faultCount = kDefaultFaultCount;
  // The total length written by kImpossibleLength; 0 alternates 100000 and 17.
  std::int32_t impossibleLength = 0;
  int splitPieces = 3;
  int splitPauseMs = 50;
  // The sample period; 0 takes it from field 106 (hundredths of a second).
  int samplePeriodMs = 0;
  // How often the station's thread looks for work when nothing arrives: shorter answers
  // commands from other threads sooner, longer costs less CPU with many stations.
  int pollMs = 10;
  std::function<void(const std::string &)> log;
};

// The configuration-information packet that a station with these options sends.
Bytes ConfigInfoPacket(const Options &options);

// True for dotted-decimal IPv4 text a.b.c.d (each 0..255) with a = 127.
bool IsLoopbackAddress(const std::string &address);

class Station {
 public:
  explicit Station(Options options);
  ~Station();  // stops
  Station(const Station &) = delete;
  Station &operator=(const Station &) = delete;

  // Starts listening (unless refusing) and serving. False when the address is not a
  // loopback address or cannot be listened on; after true, connects are answered.
  bool Start();
  // Closes the connection and the listener and joins the station's thread.
  void Stop();

  const std::string &Address() const;
  bool IsConnected() const;
  bool IsSampling() const;
  int SamplePeriodMs() const;  // the period in use while sampling, else 0
  int Connections() const;     // accepted since construction
  int SamplesSent() const;     // sample-data packets written, all connections
  int PacketsSent() const;     // every packet written (configuration info too)
  int Writes() const;          // send calls that carried packet bytes

  std::vector<Packet> Received() const;
  void ClearReceived();

  // Raw bytes to the current connection, past any fault mode. False when not connected
  // or the bytes could not be written.
  bool SendBytes(const Bytes &bytes);
  // One sample now, as the period would send it (fault mode applied). False when not
  // connected or nothing was written.
  bool SendSampleNow();
  // Closes the current connection: orderly, or with a reset.
  void DropConnection(bool reset);
  // Changes the fault mode; the count of packets on the connection starts again.
  void SetFault(FaultMode mode, int count = kDefaultFaultCount);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Polls `condition` until it holds or timeoutMs have passed; true when it held.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);

}  // namespace sim
