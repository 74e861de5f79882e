// Windows: the real API, gathered into namespace win.
#pragma once

// One select covers every station (up to 255) at once; Winsock's default is 64.
#define FD_SETSIZE 512
// clang-format off
#include <winsock.h>  // Winsock 1.1, linked as wsock32; must precede windows.h
#include <windows.h>
#include <process.h>
// clang-format on

#include <cstdint>

// The calling convention of the host's entry point.
#define DEVADO_STDCALL __stdcall
// An exported entry point (exported by name through the .def file).
#define DEVADO_ENTRY __stdcall

namespace win {

using ::BOOL;
using ::DWORD;
using ::FARPROC;
using ::fd_set;
using ::HANDLE;
using ::HMODULE;
using ::in_addr;
using ::linger;
using ::sockaddr;
using ::sockaddr_in;
using ::SOCKET;
using ::timeval;
using ::u_int;
using ::u_long;
using ::u_short;
using ::WORD;
using ::WSADATA;

using ::_beginthread;
using ::_beginthreadex;
using ::accept;
using ::bind;
using ::CloseHandle;
using ::closesocket;
using ::connect;
using ::CreateEventA;
using ::FreeLibrary;
using ::GetModuleHandleExA;
using ::GetProcAddress;
using ::getsockname;
using ::getsockopt;
using ::htonl;
using ::htons;
using ::inet_addr;
using ::ioctlsocket;
using ::listen;
using ::LoadLibraryA;
using ::ntohl;
using ::ntohs;
using ::recv;
using ::select;
using ::send;
using ::SetEvent;
using ::setsockopt;
using ::shutdown;
using ::Sleep;
using ::socket;
using ::WaitForSingleObject;
using ::WSACleanup;
using ::WSAGetLastError;
using ::WSASetLastError;
using ::WSAStartup;

inline void FdZero(fd_set *set) {
  FD_ZERO(set);
}
inline void FdSet(SOCKET s, fd_set *set) {
  FD_SET(s, set);
}
inline bool FdIsSet(SOCKET s, fd_set *set) {
  return FD_ISSET(s, set) != 0;
}
// Adds a socket that the set does not hold yet, without the search FD_SET makes.
inline void FdAppend(SOCKET s, fd_set *set) {
  if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}
inline u_int FdCount(const fd_set *set) {
  return set->fd_count;
}
inline SOCKET FdAt(const fd_set *set, u_int index) {
  return set->fd_array[index];
}
// Not an API call: how many times the system repeats an unanswered connection request at
// steps of about a second before it backs off. Windows backs off after the first repeat.
inline int ConnectRepeatsEverySecond() {
  return 1;
}

}  // namespace win
