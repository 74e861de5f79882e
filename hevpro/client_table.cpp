#include "hevpro/client_table.h"

#include "hevpro/hevpro_control.h"

namespace hevpro {

std::uint16_t ClientTable::Add(const std::string &name, std::uint8_t *clientId) {
  if (idsByName.count(name) != 0) return kHevNameInUse;
  for (int id = 1; id <= kMaxClients; ++id) {
    Slot &slot = slots[id];
    if (slot.registration != 0) continue;
    idsByName.emplace(name, static_cast<std::uint8_t>(id));
    slot.name = name;
    slot.registration = ++lastRegistration;
    *clientId = static_cast<std::uint8_t>(id);
    return 0;
  }
  return kHevTableFull;
}

bool ClientTable::Remove(std::uint8_t clientId) {
  Slot &slot = slots[clientId];
  if (clientId == 0 || slot.registration == 0) return false;
  idsByName.erase(slot.name);
  slot = Slot{};
  return true;
}

std::uint32_t ClientTable::Registration(std::uint8_t clientId) const {
  return clientId == 0 ? 0 : slots[clientId].registration;
}

bool ClientTable::Find(const std::string &name, std::uint8_t *clientId) const {
  auto found = idsByName.find(name);
  if (found == idsByName.end()) return false;
  *clientId = found->second;
  return true;
}

void ClientTable::Clear() {
  slots.fill(Slot{});
  idsByName.clear();
}

}  // namespace hevpro
