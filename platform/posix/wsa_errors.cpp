#include "platform/posix/wsa_errors.h"

#include <cerrno>

#include "platform/winapi.h"

namespace win::posix {
namespace {

thread_local int lastError = 0;

struct ErrnoMapping {
  int error;
  int wsaError;
};

constexpr ErrnoMapping kMappings[] = {
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {EISCONN, WSAEISCONN},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {EBADF, WSAENOTSOCK},
    {ENOTSOCK, WSAENOTSOCK},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ENETUNREACH, WSAENETUNREACH},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {EINTR, WSAEINTR},
    {EACCES, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EMSGSIZE, WSAEMSGSIZE},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ECONNABORTED, WSAECONNABORTED},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
};

}  // namespace

int WsaErrorFromErrno(int error) {
  for (const ErrnoMapping &m : kMappings) {
    if (m.error == error) return m.wsaError;
  }
  return WSASYSCALLFAILURE;
}

void RecordErrno() {
  lastError = WsaErrorFromErrno(errno);
}
void RecordError(int wsaError) {
  lastError = wsaError;
}

}  // namespace win::posix

namespace win {

int WSAGetLastError() {
  return posix::lastError;
}
void WSASetLastError(int error) {
  posix::lastError = error;
}

}  // namespace win
