// POSIX: an emulation of the Windows API surface that the driver uses. Types and
// results follow Winsock 1.1 and kernel32; see the .cpp files for where POSIX and
// Windows differ and how the difference is bridged.
#pragma once

#include <cstdint>

// The calling convention of the host's entry point: stdcall on i386, as on Windows.
#define DEVADO_STDCALL __attribute__((stdcall))
// An exported entry point.
#define DEVADO_ENTRY __attribute__((stdcall, visibility("default")))

namespace win {

using BOOL = int;
using WORD = std::uint16_t;
using DWORD = unsigned long;  // 32 bits in ILP32, as on Windows
using HANDLE = void *;
using SOCKET = std::uintptr_t;
using u_long = unsigned long;
using u_short = unsigned short;
using u_int = unsigned int;

// FD_SETSIZE as the driver defines it for Winsock: one wait covers every station.
constexpr int kFdSetSize = 512;
constexpr long kFionbio = static_cast<long>(0x8004667Eu);
constexpr long kFionread = static_cast<long>(0x4004667Fu);
constexpr int kSolSocket = 0xFFFF;
constexpr int kSoReuseAddr = 0x0004;
constexpr int kSoLinger = 0x0080;
constexpr int kSoSndBuf = 0x1001;
constexpr int kSoRcvBuf = 0x1002;
constexpr int kSoError = 0x1007;

struct in_addr {
  std::uint32_t s_addr;  // network byte order
};
struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  short sin_family;
  u_short sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};
struct fd_set {
  u_int fd_count;
  SOCKET fd_array[kFdSetSize];
};
struct timeval {
  long tv_sec;
  long tv_usec;
};
struct linger {
  u_short l_onoff;
  u_short l_linger;
};
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char *lpVendorInfo;
};

// Windows Sockets
int WSAStartup(WORD versionRequested, WSADATA *data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
SOCKET socket(int family, int type, int protocol);
int ioctlsocket(SOCKET s, long command, u_long *argument);
int connect(SOCKET s, const sockaddr *name, int nameLength);
int bind(SOCKET s, const sockaddr *name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr *address, int *addressLength);
int getsockname(SOCKET s, sockaddr *name, int *nameLength);
// Only SOL_SOCKET with SO_LINGER (a linger record), SO_REUSEADDR, SO_SNDBUF and SO_RCVBUF
// (an int each).
int setsockopt(SOCKET s, int level, int name, const char *value, int valueLength);
// Only SOL_SOCKET with SO_ERROR: the pending error of the socket as a Winsock code (0 for
// none), which reading clears.
int getsockopt(SOCKET s, int level, int name, char *value, int *valueLength);
int select(int ignored, fd_set *readSet, fd_set *writeSet, fd_set *exceptSet,
           const timeval *timeout);
int recv(SOCKET s, char *buffer, int length, int flags);
int send(SOCKET s, const char *buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
unsigned long inet_addr(const char *text);
u_short htons(u_short value);
u_short ntohs(u_short value);
u_long htonl(u_long value);
u_long ntohl(u_long value);

void FdZero(fd_set *set);
void FdSet(SOCKET s, fd_set *set);
bool FdIsSet(SOCKET s, fd_set *set);
// Adds a socket that the set does not hold yet, without the search FdSet makes.
inline void FdAppend(SOCKET s, fd_set *set) {
  if (set->fd_count < kFdSetSize) set->fd_array[set->fd_count++] = s;
}
// The sockets that a set holds (after select: those that are ready), without a search.
inline u_int FdCount(const fd_set *set) {
  return set->fd_count;
}
inline SOCKET FdAt(const fd_set *set, u_int index) {
  return set->fd_array[index];
}

// Not an API call: how many times the system repeats an unanswered connection request at
// steps of about a second before it backs off (at least 1). Linux repeats it
// tcp_syn_linear_timeouts + 1 times so, within tcp_syn_retries; read once.
int ConnectRepeatsEverySecond();

// kernel32 and the C runtime
HANDLE CreateEventA(void *security, BOOL manualReset, BOOL initialState, const char *name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL SetEvent(HANDLE handle);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);
std::uintptr_t _beginthread(void (*start)(void *), unsigned stackSize, void *argument);
// A thread whose handle (0 on failure) is signalled once the thread has ended: a wait on
// it joins the thread. Closing the handle of a thread that has not been joined lets the
// thread run on by itself. `security`, `flags` and `threadId` are ignored.
std::uintptr_t _beginthreadex(void *security, unsigned stackSize,
                              unsigned(DEVADO_STDCALL *start)(void *), void *argument,
                              unsigned flags, unsigned *threadId);

// Dynamic libraries (dlopen underneath)
using HMODULE = void *;
using FARPROC = std::intptr_t (*)();
HMODULE LoadLibraryA(const char *path);
FARPROC GetProcAddress(HMODULE module, const char *name);
BOOL FreeLibrary(HMODULE module);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS and GET_MODULE_HANDLE_EX_FLAG_PIN: keeps the
// library that holds the address `name` loaded until the process ends. Other flags fail.
BOOL GetModuleHandleExA(DWORD flags, const char *name, HMODULE *module);

}  // namespace win

// Constants with their Windows names and values. Some of these names are also macros of
// the C library; those are only defined here when absent (the emulation's own sources see
// the C library's, and use the k-constants above).
#ifndef AF_INET
#define AF_INET 2
#endif
#ifndef SOCK_STREAM
#define SOCK_STREAM 1
#endif
#ifndef INADDR_ANY
#define INADDR_ANY 0x00000000u
#endif
#ifndef INADDR_NONE
#define INADDR_NONE 0xFFFFFFFFu
#endif
#ifndef FIONBIO
#define FIONBIO (win::kFionbio)
#endif
#ifndef FIONREAD
#define FIONREAD (win::kFionread)
#endif
#ifndef SOL_SOCKET
#define SOL_SOCKET (win::kSolSocket)
#endif
#ifndef SO_REUSEADDR
#define SO_REUSEADDR (win::kSoReuseAddr)
#endif
#ifndef SO_LINGER
#define SO_LINGER (win::kSoLinger)
#endif
#ifndef SO_SNDBUF
#define SO_SNDBUF (win::kSoSndBuf)
#endif
#ifndef SO_RCVBUF
#define SO_RCVBUF (win::kSoRcvBuf)
#endif
#ifndef SO_ERROR
#define SO_ERROR (win::kSoError)
#endif
#ifndef MSG_PEEK
#define MSG_PEEK 0x2
#endif
#define INVALID_SOCKET (~static_cast<win::SOCKET>(0))
#define SOCKET_ERROR (-1)
#define WAIT_OBJECT_0 0x00000000ul
#define WAIT_TIMEOUT 0x00000102ul
#define WAIT_FAILED 0xFFFFFFFFul
#define INFINITE 0xFFFFFFFFul
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x1ul
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4ul
#define TRUE 1
#define FALSE 0
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEMSGSIZE 10040
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSASYSCALLFAILURE 10107
