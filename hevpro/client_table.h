// The registered clients. Not locked by itself: the runtime state's lock guards it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace hevpro {

class ClientTable {
 public:
  static constexpr int kMaxClients = 255;  // ids 1..255; 0 never names a client
  static constexpr std::size_t kMaxNameLength = 63;

  // kHevOk and the lowest free id, or kHevNameInUse / kHevTableFull. The name has been
  // checked for length by the caller.
  std::uint16_t Add(const std::string &name, std::uint8_t *clientId);
  bool Remove(std::uint8_t clientId);
  bool Contains(std::uint8_t clientId) const { return Registration(clientId) != 0; }
  // Tells one registration of an id from a later one that reuses it: unique per
  // registration, 0 while the id is free.
  std::uint32_t Registration(std::uint8_t clientId) const;
  bool Find(const std::string &name, std::uint8_t *clientId) const;
  int Count() const { return static_cast<int>(idsByName.size()); }
  void Clear();

 private:
  struct Slot {
    std::string name;
    std::uint32_t registration = 0;
  };

  std::array<Slot, kMaxClients + 1> slots;  // indexed by id; slot 0 stays free
  std::map<std::string, std::uint8_t> idsByName;
  std::uint32_t lastRegistration = 0;  // kept across Clear so a reset still looks like a removal
};

}  // namespace hevpro
