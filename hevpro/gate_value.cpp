#include "hevpro/gate_value.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "hevpro/hevpro_control.h"

namespace hevpro {
namespace {

// Float gates are IEEE single precision: the conversion rounds to nearest-even and
// turns values beyond the single range into infinities, which is well defined only here.
static_assert(std::numeric_limits<float>::is_iec559, "float gates need IEEE single precision");

// A 16-bit register saturates instead of wrapping, and a NaN has no integer: the host
// stores 0 for it. Halves round away from zero.
double StoredInteger(double value, double lowest, double highest) {
  if (std::isnan(value)) return 0.0;
  return std::round(std::clamp(value, lowest, highest));
}

}  // namespace

bool IsKnownGateType(int typeCode) {
  return typeCode == kHevGateSigned16 || typeCode == kHevGateUnsigned16 ||
         typeCode == kHevGateFloat;
}

double StoredGateValue(int typeCode, double value) {
  switch (typeCode) {
    case kHevGateSigned16:
      return StoredInteger(value, -32768.0, 32767.0);
    case kHevGateUnsigned16:
      return StoredInteger(value, 0.0, 65535.0);
    default:
      return static_cast<float>(value);
  }
}

}  // namespace hevpro
