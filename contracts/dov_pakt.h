// Packet library interface: CountNet packets and messages, built and walked as their
// wire images. The encoding is described in docs/wire-format.md.
//
// A packet object and a message object are each one contiguous wire image; the pointer
// returned by an allocate call points at the first wire byte. Objects are not
// thread-safe: one object is used by one thread at a time. The library itself (its
// registry of allocated objects) may be called from any number of threads.
#pragma once

#include <stdint.h>

extern "C" {

/* Results of the int functions: 0 for success, one of these on failure. */
enum {
  kPaktErrArgument = -1, /* null pointer, or an object this library did not allocate */
  kPaktErrNoRoom = -2,   /* the addition does not fit into the allocated size */
  kPaktErrLength = -3,   /* a length that the wire format cannot carry */
};

/* Sizes of the fixed parts of the wire format. */
enum {
  kPaktPacketHeaderSize = 18,
  kPaktMessageHeaderSize = 4,
  kPaktFieldHeaderSize = 4,
};

#define DOV_PAKT_MAGIC 0xDEADBEEFu

/* An empty packet of `size` wire bytes at most (header included); null when size is
   below the header size or above 1 MiB. */
void *pvPktAllocatePacket(int size);
/* An empty message (type 0) of `size` wire bytes at most (header included); null when
   size is below 4 or above 65535. */
void *pvMsgAllocateMessage(int size);
int iPktClearPacket(void *packet);
/* Empties the message and resets its type to 0. */
int iMsgClearMessage(void *message);
void vMsgSetMessageType(void *message, uint16_t type);
/* Appends a field (the bytes are copied). On failure the message is unchanged. */
int iMsgAddField(void *message, uint16_t id, uint16_t length, const void *data);
/* Same as iMsgAddField: a station that has just reconnected must get every field. */
int iMsgAddOnChange(void *message, uint16_t id, uint16_t length, const void *data);
/* Appends a copy of the message; the message itself is left as it is. */
int iPktAddMessage(void *packet, void *message);
/* Total wire length from the header; 0 for a null packet. */
uint32_t dwPktGetPacketLength(void *packet);
/* Stores the peer address (as inet_addr returns it) and the socket in the header. */
void vPktSetInternetAddress(void *packet, uint32_t address, uint16_t socket);

/* Walking works on allocated objects and on received images in a caller's buffer alike.
   Every read stays inside the header's total length and each message's length. */
void *pvPktGetNextMessagePointer(void *packet, void *previous);
uint16_t wMsgGetMessageType(void *message);
uint16_t wMsgGetFirstField(void *message);
uint16_t wMsgGetNextField(void *message, uint16_t field);
uint16_t wMsgGetFieldByID(void *message, uint16_t id, uint16_t start);
uint16_t wMsgGetFieldID(void *message, uint16_t field);
uint16_t wMsgGetFieldLength(void *message, uint16_t field);
/* Pointer to the field's data; null for an invalid handle or a field of length 0. */
void *pvMsgGetField(void *message, uint16_t field);

int iPktFreePacket(void *packet);
int iMsgFreeMessage(void *message);

}  // extern "C"
