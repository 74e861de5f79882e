// Control API of the stand-in host runtime, beside the host calls of
// contracts/host_runtime.h: what a test, a tool or the demo needs to play the host's part.
// Every call is thread-safe.
#pragma once

#include <stdint.h>

extern "C" {

/* Results of the host calls, beyond those in contracts/host_runtime.h. */
enum {
  kHevBadArgument = 2,  /* a null pointer or an out-of-range value */
  kHevNoSuchClient = 3, /* the client id is not registered */
  kHevNameInUse = 6,    /* HevMkClient: a client of this name exists */
  kHevTableFull = 7,    /* HevMkClient: all 255 client ids are taken */
};

/* Gate type codes. */
enum { kHevGateSigned16 = 0, kHevGateUnsigned16 = 1, kHevGateFloat = 3 };

/* ---- logging ---------------------------------------------------------------------
   Each line that err() formats goes to one sink: standard error (the default), a file,
   a callback, or nowhere. Independently of the sink, lines can be captured in memory
   for later inspection. A callback must not call err() itself. */
/* Lines run through one lock, so a callback sees them one at a time, in order. A line
   that a callback logs itself is dropped rather than deadlocking; a callback must not
   change the sink or the capture either. Lines longer than about 2 KiB are cut. */
typedef void (*HevLogCallback)(void *context, int level, const char *line);
void HevCtlLogToStderr(void);
int HevCtlLogToFile(const char *path); /* 0, or nonzero when the file cannot be opened */
void HevCtlLogToCallback(HevLogCallback callback, void *context); /* null: as HevCtlLogOff */
void HevCtlLogOff(void);
void HevCtlCaptureStart(void); /* clears the captured lines and captures from now on */
void HevCtlCaptureStop(void);  /* keeps the captured lines for inspection */
/* Only the newest 100000 lines are kept; index 0 is the oldest of them. */
int HevCtlCapturedCount(void);
/* Copies captured line `index` (truncated to textSize - 1 characters); 0, or nonzero
   for an index out of range. */
int HevCtlCapturedLine(int index, int *level, char *text, int textSize);

/* ---- gates -------------------------------------------------------------------------
   A gate has an id (0..65534), an address (at most 155 characters), a type code and the
   index of the driver it belongs to. HevGetGateIdByAddressStr finds a gate when its
   address matches exactly and its driver index is the driver number minus 1. */
/* Among gates of one driver index that share an address, the lowest id is found.
   HevCtlDefineGate returns 0, or kHevBadArgument for an id, address, type code (0, 1
   or 3) or driver index (0..254) out of range. The other gate calls return
   kHevNoSuchGate for an unknown id. HevGetGateDef does not check the client id, and
   zeroes the record also when it returns kHevNoGateDefinition. */
int HevCtlDefineGate(int gateId, const char *address, int typeCode, int driverIndex);
int HevCtlRemoveGate(int gateId);
/* The value and the number of HevPutGateVal writes since the gate was defined. */
int HevCtlGateValue(int gateId, double *value, uint32_t *writeCount); /* either may be null */
/* Sets the value as the host itself would (not counted as a driver write). */
int HevCtlSetGateValue(int gateId, double value);
/* The number of HevGetGateDef calls since the last reset, whatever they answered. */
uint32_t HevCtlGateDefCalls(void);
/* Makes each HevGetGateDef call take `delayMs` (0..10000) more before it answers, as a
   slow tag database would; the runtime's lock is not held meanwhile. 0, or
   kHevBadArgument. */
int HevCtlSetGateDefDelay(int delayMs);

/* ---- clients ---------------------------------------------------------------------- */
/* 0 and the id when a client of this name is registered; kHevNoSuchClient otherwise. */
int HevCtlFindClient(const char *name, uint8_t *clientId);
int HevCtlClientCount(void);

/* ---- link status history ------------------------------------------------------------ */
typedef struct HevCommStatusEvent {
  uint8_t clientId;
  uint8_t driver;
  int station;
  int a;
  int status;
} HevCommStatusEvent;
/* Every HevSetPlcCommStatus call, in call order, also those refused for an unknown
   client. */
int HevCtlCommStatusCount(void);
int HevCtlCommStatusAt(int index, HevCommStatusEvent *event); /* 0, or nonzero */

/* ---- observing ---------------------------------------------------------------------
   Calls onWrite after every HevPutGateVal that stored a value (with the value as stored)
   and onStatus after every HevSetPlcCommStatus, on the caller's thread, in order, outside
   the runtime's lock (an observer may use the control API). Null callbacks stop it. */
typedef void (*HevGateWriteObserver)(void *context, int gateId, double value);
typedef void (*HevCommStatusObserver)(void *context, const HevCommStatusEvent *event);
void HevCtlObserve(HevGateWriteObserver onWrite, HevCommStatusObserver onStatus, void *context);

/* ---- waiting -----------------------------------------------------------------------
   Calls `predicate` until it returns nonzero or `timeoutMs` has passed; it is called
   again at every change of the runtime's state (a gate write, a status report, a log
   line, a client change) and at least every 10 ms. Returns 1 when the predicate held,
   0 on timeout. */
typedef int (*HevPredicate)(void *context);
int HevCtlWaitFor(HevPredicate predicate, void *context, int timeoutMs);

/* Forgets every gate, client, status event, observer and captured line, and logs to
   stderr. */
void HevCtlReset(void);

}  // extern "C"

// Waits for any callable condition; see HevCtlWaitFor.
template <typename Condition>
bool HevWaitUntil(Condition condition, int timeoutMs) {
  auto call = [](void *context) -> int { return (*static_cast<Condition *>(context))() ? 1 : 0; };
  return HevCtlWaitFor(call, &condition, timeoutMs) != 0;
}
