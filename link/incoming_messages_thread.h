#pragma once

#include "platform/winapi.h"

// The receiving loop of a driver instance, started by cold start with an owning reference
// to the instance's state (ThreadArgumentFor) as its argument. Between passes it calls the host's
// wait call; in each pass it waits on every connected station at once, takes every complete packet
// that arrived (a bounded number per station), fails stations that fell silent or whose link broke,
// and reports link status to the host. It ends on the instance's stop signal: it lets go of the
// stations, and once driver end releases it, raises the block's stop flag.
unsigned DEVADO_STDCALL INCOMING_MESSAGES_Thread(void *owner);
