// Host/network byte order. Kept apart from the socket code because the C library
// defines htons and friends as macros there.
#include "platform/winapi.h"

namespace win {

u_short htons(u_short value) {
  return __builtin_bswap16(value);
}
u_short ntohs(u_short value) {
  return __builtin_bswap16(value);
}
u_long htonl(u_long value) {
  return __builtin_bswap32(static_cast<std::uint32_t>(value));
}
u_long ntohl(u_long value) {
  return __builtin_bswap32(static_cast<std::uint32_t>(value));
}

}  // namespace win
