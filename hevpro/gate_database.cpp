#include "hevpro/gate_database.h"

namespace hevpro {

const std::string &GateDatabase::AddressKey(int driverIndex, const char *address) const {
  key_.assign(1, static_cast<char>(driverIndex));
  key_.append(address);
  return key_;
}

void GateDatabase::Define(int gateId, const Gate &gate) {
  Remove(gateId);
  addressIndex[AddressKey(gate.driverIndex, gate.address.c_str())].insert(gateId);
  gatesById.emplace(gateId, gate);
}

bool GateDatabase::Remove(int gateId) {
  auto found = gatesById.find(gateId);
  if (found == gatesById.end()) return false;
  const Gate &gate = found->second;
  auto sharing = addressIndex.find(AddressKey(gate.driverIndex, gate.address.c_str()));
  if (sharing != addressIndex.end()) {
    sharing->second.erase(gateId);
    if (sharing->second.empty()) addressIndex.erase(sharing);
  }
  gatesById.erase(found);
  return true;
}

Gate *GateDatabase::Find(int gateId) {
  auto found = gatesById.find(gateId);
  return found == gatesById.end() ? nullptr : &found->second;
}

int GateDatabase::FindByAddress(int driverIndex, const char *address) const {
  auto found = addressIndex.find(AddressKey(driverIndex, address));
  return found == addressIndex.end() ? -1 : *found->second.begin();
}

void GateDatabase::Clear() {
  gatesById.clear();
  addressIndex.clear();
}

}  // namespace hevpro
