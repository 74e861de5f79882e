// Winsock's per-thread last error on POSIX: each failing call records its code at the
// point of failure, translated from errno.
#pragma once

namespace win::posix {

// The Winsock code for an errno value. Codes without a Winsock counterpart of their own
// become WSASYSCALLFAILURE (10107).
int WsaErrorFromErrno(int error);

// Records WsaErrorFromErrno(errno) as the calling thread's last error.
void RecordErrno();
// Records a Winsock code directly.
void RecordError(int wsaError);

}  // namespace win::posix
