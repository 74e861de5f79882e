#pragma once

#include "platform/winapi.h"

// Brings failed stations back, started by cold start with an owning reference to the
// instance's state (ThreadArgumentFor) as its argument. Every configured station without a
// connection gets a connect, all of them at once within one shared 500 ms window; one that
// does not answer is tried again a second later. A new connection is handed over armed:
// packet objects, then the station's channel tags. A station that stays away is logged at
// most once per 26.6 s; one that comes back is always logged. The thread sleeps while every
// station is connected, and a lost connection wakes it. It ends on the instance's stop
// signal.
unsigned DEVADO_STDCALL SocketsReOpenThread(void *owner);
