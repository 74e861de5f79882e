// What the host keeps of a value written into a gate. Each gate type has its own
// storage, and a reader sees the stored value, not the one that was written.
#pragma once

namespace hevpro {

bool IsKnownGateType(int typeCode);
// The value as a gate of this (known) type holds it.
double StoredGateValue(int typeCode, double value);

}  // namespace hevpro
