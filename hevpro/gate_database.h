// The tag database: gates by id, plus an address index so that a look-up by address is
// one hash rather than a scan of up to 65535 gates (a driver looks up a gate for every
// value it writes). Not locked by itself: the runtime state's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>

namespace hevpro {

constexpr int kMaxGateId = 65534;
constexpr std::size_t kMaxAddressLength = 155;  // 156 bytes with the NUL fill the record
constexpr int kMaxDriverIndex = 254;            // driver numbers 1..255

struct Gate {
  std::string address;
  int typeCode = 0;
  int driverIndex = 0;
  double value = 0.0;
  std::uint32_t writeCount = 0;  // HevPutGateVal calls since the gate was defined
};

class GateDatabase {
 public:
  // Replaces any gate with this id; the caller has checked the fields.
  void Define(int gateId, const Gate &gate);
  bool Remove(int gateId);
  Gate *Find(int gateId);
  // Several gates of one driver may share an address (two tags on one register); the
  // lowest id answers, so the result does not depend on the order of definition.
  // -1 when none matches.
  int FindByAddress(int driverIndex, const char *address) const;
  void Clear();

 private:
  // The driver index as one byte, then the address (text that holds no NUL). A gate's
  // index is 0..254; a look-up for driver 0 asks for -1, byte 255, which no gate has.
  const std::string &AddressKey(int driverIndex, const char *address) const;

  std::unordered_map<int, Gate> gatesById;
  std::unordered_map<std::string, std::set<int>> addressIndex;  // key: the gates' ids
  // Reused, so that a look-up allocates nothing; FindByAddress writes it too, which the
  // runtime lock serializes like every other call.
  mutable std::string key_;
};

}  // namespace hevpro
