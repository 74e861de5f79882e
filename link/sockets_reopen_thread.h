#pragma once

#include "platform/winapi.h"

// Brings failed stations back, started by cold start with an owning reference to the
// instance's state (ThreadArgumentFor) as its argument: it walks the station table over and over,
// reconnects every configured station that has no connection, and hands the new connection over
// armed: packet objects, then the station's channel tags. It ends on the instance's stop signal.
unsigned DEVADO_STDCALL SocketsReOpenThread(void *owner);
