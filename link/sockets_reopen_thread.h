#pragma once

// Brings failed stations back, started by cold start with the instance block as its
// argument: it walks the station table over and over, reconnects every configured
// station whose socket is -1, stores the new socket under the socket-table event and
// arms the station's channel tags again. It ends once the stop flag is up.
void SocketsReOpenThread(void *instanceBlock);
