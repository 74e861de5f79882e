// What a failed hand-over of a message to the client library means for the message.
#pragma once

#include <mosquitto.h>

// True when the client still holds the message after mosquitto_publish failed, and sends
// it once connected again: the connection (plain or TLS) broke while the message was
// handed over. Such a message counts as in flight; any other failure means the client
// refused it outright (too large, say), and it could never be sent.
inline bool HeldByClient(int rc, int mid) {
  return mid != 0 && (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO ||
                      rc == MOSQ_ERR_TLS);
}
