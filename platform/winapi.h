// The Windows API surface that the driver and its tools use, under one name on every
// platform: namespace win. On Windows it is the real API (Winsock 1.1, kernel32, the C
// runtime's _beginthread); elsewhere it is an emulation on POSIX sockets and threads
// with the same calls, types, constants and results. Code above this folder includes
// only this header and never tests the platform itself.
//
// Constants keep their Windows names and values (AF_INET, FIONBIO, WSAEWOULDBLOCK,
// WAIT_TIMEOUT, ...). fd_set is filled through win::FdZero/FdSet/FdIsSet: the C
// library's FD_* macros cannot be used on the emulated set.
#pragma once

#if defined(_WIN32)
#include "platform/win32/winapi_win32.h"
#else
#include "platform/posix/winapi_posix.h"
#endif
