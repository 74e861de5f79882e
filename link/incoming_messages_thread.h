#pragma once

// The receiving loop of a driver instance, started by cold start with the instance
// block as its argument. Between passes it calls the host's wait call; in each pass it
// polls every connected station, hands readable sockets to the packet decoder, fails
// stations that fell silent or whose link broke, and reports link status to the host.
// It ends when the host removes the driver's client (or the instance is stopped), and
// then raises the block's stop flag.
void INCOMING_MESSAGES_Thread(void *instanceBlock);
