#include "hevpro/gate_database.h"

#include <climits>
#include <string_view>

namespace hevpro {

void GateDatabase::Define(int gateId, const Gate &gate) {
  Remove(gateId);
  addressIndex.emplace(gate.driverIndex, gate.address, gateId);
  gatesById.emplace(gateId, gate);
}

bool GateDatabase::Remove(int gateId) {
  auto found = gatesById.find(gateId);
  if (found == gatesById.end()) return false;
  const Gate &gate = found->second;
  addressIndex.erase(AddressKey(gate.driverIndex, gate.address, gateId));
  gatesById.erase(found);
  return true;
}

Gate *GateDatabase::Find(int gateId) {
  auto found = gatesById.find(gateId);
  return found == gatesById.end() ? nullptr : &found->second;
}

int GateDatabase::FindByAddress(int driverIndex, const char *address) const {
  std::string_view wanted(address);
  auto first = addressIndex.lower_bound(std::make_tuple(driverIndex, wanted, INT_MIN));
  if (first == addressIndex.end()) return -1;
  if (std::get<0>(*first) != driverIndex || std::get<1>(*first) != wanted) return -1;
  return std::get<2>(*first);
}

void GateDatabase::Clear() {
  gatesById.clear();
  addressIndex.clear();
}

}  // namespace hevpro
