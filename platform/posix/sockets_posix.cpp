// Winsock 1.1 on POSIX sockets.
//
// Where the two differ:
// - Sockets are non-blocking only through ioctlsocket(FIONBIO), as on Windows.
// - select() is built on poll() for the sockets named in the sets, so descriptors of
//   1024 and above work; its first argument is ignored, as on Windows. A peer that closed
//   or reset the connection makes the socket readable (recv then reports it), and
//   writable, so that a sender waiting for room learns of the failure. The exception set
//   reports out-of-band data only.
// - send() never raises SIGPIPE; the process's signal handling belongs to the host.
// - setsockopt() knows SO_LINGER, SO_REUSEADDR, SO_SNDBUF and SO_RCVBUF, the options a
//   test station needs.
// - bind() sets SO_REUSEADDR, because Windows lets a listener bind an address whose
//   earlier connections are still in TIME_WAIT and Linux does not.
// - A socket is only created between WSAStartup and the matching WSACleanup.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/posix/epoll_wait_set.h"
#include "platform/posix/wsa_errors.h"
#include "platform/winapi.h"

namespace win {
namespace {

std::atomic<int> startupCount{0};

int Fail(int wsaError) {
  posix::RecordError(wsaError);
  return SOCKET_ERROR;
}

int FailErrno() {
  posix::RecordErrno();
  return SOCKET_ERROR;
}

// A SOCKET that cannot be a descriptor fails like a closed one would.
bool ToDescriptor(SOCKET s, int *fd) {
  if (s > static_cast<SOCKET>(INT_MAX)) return false;
  *fd = static_cast<int>(s);
  return true;
}

bool ToPosixAddress(const sockaddr *name, int nameLength, ::sockaddr_in *out) {
  if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in))) return false;
  sockaddr_in in;
  std::memcpy(&in, name, sizeof in);
  std::memset(out, 0, sizeof *out);
  out->sin_family = static_cast<sa_family_t>(in.sin_family);
  out->sin_port = in.sin_port;
  out->sin_addr.s_addr = in.sin_addr.s_addr;
  return true;
}

void FromPosixAddress(const ::sockaddr_in &in, sockaddr *name, int *nameLength) {
  if (name == nullptr || nameLength == nullptr) return;
  sockaddr_in out{};
  out.sin_family = static_cast<short>(in.sin_family);
  out.sin_port = in.sin_port;
  out.sin_addr.s_addr = in.sin_addr.s_addr;
  int n = *nameLength < static_cast<int>(sizeof out) ? *nameLength : static_cast<int>(sizeof out);
  if (n > 0) std::memcpy(name, &out, static_cast<size_t>(n));
  *nameLength = static_cast<int>(sizeof out);
}

template <typename Call>
int RetryOnInterrupt(Call call) {
  int rc;
  do {
    rc = call();
  } while (rc < 0 && errno == EINTR);
  return rc;
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA *data) {
  if (data == nullptr) return WSAEFAULT;
  if ((versionRequested & 0xFF) < 1) return WSAVERNOTSUPPORTED;
  std::memset(data, 0, sizeof *data);
  data->wVersion = 0x0101;
  data->wHighVersion = 0x0101;
  std::strcpy(data->szDescription, "Windows Sockets 1.1 emulation on POSIX sockets");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 32767;
  data->iMaxUdpDg = 65467;
  ++startupCount;
  return 0;
}

int WSACleanup() {
  int count = startupCount.load();
  while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0) return Fail(WSANOTINITIALISED);
  return 0;
}

SOCKET socket(int family, int type, int protocol) {
  if (startupCount.load() <= 0) {
    posix::RecordError(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  if (family != AF_INET) {
    posix::RecordError(WSAEAFNOSUPPORT);
    return INVALID_SOCKET;
  }
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    posix::RecordErrno();
    return INVALID_SOCKET;
  }
  posix::NextSocketGeneration(fd);
  return static_cast<SOCKET>(fd);
}

int ioctlsocket(SOCKET s, long command, u_long *argument) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (argument == nullptr) return Fail(WSAEFAULT);
  if (command == kFionbio) {
    // One call, where reading and writing the file status flags would take two: every
    // connect attempt makes it.
    int on = *argument != 0 ? 1 : 0;
    return ::ioctl(fd, FIONBIO, &on) < 0 ? FailErrno() : 0;
  }
  if (command == kFionread) {
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) < 0) return FailErrno();
    *argument = static_cast<u_long>(pending);
    return 0;
  }
  return Fail(WSAEINVAL);
}

int connect(SOCKET s, const sockaddr *name, int nameLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  ::sockaddr_in peer;
  if (!ToPosixAddress(name, nameLength, &peer)) return Fail(WSAEFAULT);
  int rc = ::connect(fd, reinterpret_cast<const ::sockaddr *>(&peer), sizeof peer);
  if (rc == 0) {
    // Linux answers the first repeated connect on a non-blocking socket whose handshake
    // has finished with success; Windows with WSAEISCONN. A first connect on a
    // non-blocking socket never succeeds at once, so only success needs this look, and
    // the connect attempts (many a second while stations are away) make no extra call.
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0 ? Fail(WSAEISCONN) : 0;
  }
  // For a connect, EAGAIN is not "try again later" but "no local port is left" (Windows
  // says WSAENOBUFS); only EINPROGRESS means the connect is on its way.
  if (errno == EAGAIN) return Fail(WSAENOBUFS);
  return FailErrno();
}

int bind(SOCKET s, const sockaddr *name, int nameLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  ::sockaddr_in local;
  if (!ToPosixAddress(name, nameLength, &local)) return Fail(WSAEFAULT);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  int rc = ::bind(fd, reinterpret_cast<const ::sockaddr *>(&local), sizeof local);
  return rc < 0 ? FailErrno() : 0;
}

int listen(SOCKET s, int backlog) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  return ::listen(fd, backlog) < 0 ? FailErrno() : 0;
}

SOCKET accept(SOCKET s, sockaddr *address, int *addressLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) {
    posix::RecordError(WSAENOTSOCK);
    return INVALID_SOCKET;
  }
  ::sockaddr_in peer{};
  socklen_t length = sizeof peer;
  int client = RetryOnInterrupt(
      [&] { return ::accept4(fd, reinterpret_cast<::sockaddr *>(&peer), &length, SOCK_CLOEXEC); });
  if (client < 0) {
    posix::RecordErrno();
    return INVALID_SOCKET;
  }
  posix::NextSocketGeneration(client);
  FromPosixAddress(peer, address, addressLength);
  return static_cast<SOCKET>(client);
}

int getsockname(SOCKET s, sockaddr *name, int *nameLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (name == nullptr || nameLength == nullptr) return Fail(WSAEFAULT);
  ::sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(fd, reinterpret_cast<::sockaddr *>(&local), &length) < 0) return FailErrno();
  FromPosixAddress(local, name, nameLength);
  return 0;
}

int setsockopt(SOCKET s, int level, int name, const char *value, int valueLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (value == nullptr) return Fail(WSAEFAULT);
  if (level != kSolSocket) return Fail(WSAEINVAL);
  if (name == kSoLinger && valueLength >= static_cast<int>(sizeof(linger))) {
    linger in;
    std::memcpy(&in, value, sizeof in);
    ::linger out{in.l_onoff, in.l_linger};
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &out, sizeof out) < 0 ? FailErrno() : 0;
  }
  int posixName = name == kSoReuseAddr ? SO_REUSEADDR
                  : name == kSoSndBuf  ? SO_SNDBUF
                  : name == kSoRcvBuf  ? SO_RCVBUF
                                       : -1;
  if (posixName != -1 && valueLength >= static_cast<int>(sizeof(int))) {
    int number;
    std::memcpy(&number, value, sizeof number);
    return ::setsockopt(fd, SOL_SOCKET, posixName, &number, sizeof number) < 0 ? FailErrno() : 0;
  }
  return Fail(WSAEINVAL);
}

int getsockopt(SOCKET s, int level, int name, char *value, int *valueLength) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (value == nullptr || valueLength == nullptr) return Fail(WSAEFAULT);
  if (level != kSolSocket || name != kSoError || *valueLength < static_cast<int>(sizeof(int))) {
    return Fail(WSAEINVAL);
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return FailErrno();
  int wsaError = error == 0 ? 0 : posix::WsaErrorFromErrno(error);
  std::memcpy(value, &wsaError, sizeof wsaError);
  *valueLength = sizeof wsaError;
  return 0;
}

int recv(SOCKET s, char *buffer, int length, int flags) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(WSAEFAULT);
  int posixFlags = (flags & MSG_PEEK) ? MSG_PEEK : 0;
  int rc = RetryOnInterrupt([&] {
    return static_cast<int>(::recv(fd, buffer, static_cast<size_t>(length), posixFlags));
  });
  return rc < 0 ? FailErrno() : rc;
}

int send(SOCKET s, const char *buffer, int length, int /*flags*/) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (length < 0 || (buffer == nullptr && length > 0)) return Fail(WSAEFAULT);
  int rc = RetryOnInterrupt([&] {
    return static_cast<int>(::send(fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL));
  });
  return rc < 0 ? FailErrno() : rc;
}

int shutdown(SOCKET s, int how) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  if (how < 0 || how > 2) return Fail(WSAEINVAL);
  return ::shutdown(fd, how) < 0 ? FailErrno() : 0;
}

int closesocket(SOCKET s) {
  int fd;
  if (!ToDescriptor(s, &fd)) return Fail(WSAENOTSOCK);
  // After close() the descriptor is released even when EINTR is reported, so it is
  // never retried: a retry could close a descriptor that another thread just opened.
  // Moved on before and after: a wait that looked at the number in between, and found
  // the socket still open, registers it anew next time.
  posix::NextSocketGeneration(fd);
  int rc = ::close(fd);
  int closeErrno = errno;
  posix::NextSocketGeneration(fd);
  if (rc < 0 && closeErrno != EINTR) {
    errno = closeErrno;
    return FailErrno();
  }
  return 0;
}

namespace {

// A system setting that holds one number; `fallback` when it cannot be read.
int ReadSetting(const char *path, int fallback) {
  std::FILE *file = std::fopen(path, "re");  // not inherited by a program started meanwhile
  if (file == nullptr) return fallback;
  int value = fallback;
  if (std::fscanf(file, "%d", &value) != 1) value = fallback;
  std::fclose(file);
  return value;
}

int ReadConnectRepeats() {
  // Without the linear setting (older kernels, other systems) the first repeat comes a
  // second after the request and the next ones back off at once.
  int linear = ReadSetting("/proc/sys/net/ipv4/tcp_syn_linear_timeouts", 0);
  int retries = ReadSetting("/proc/sys/net/ipv4/tcp_syn_retries", 1);
  constexpr int kMostTaken = 8;  // an odd setting cannot keep one request open for minutes
  return std::max(1, std::min({linear + 1, retries, kMostTaken}));
}

}  // namespace

int ConnectRepeatsEverySecond() {
  static const int repeats = ReadConnectRepeats();
  return repeats;
}

unsigned long inet_addr(const char *text) {
  if (text == nullptr) return INADDR_NONE;
  return ::inet_addr(text);
}

}  // namespace win
