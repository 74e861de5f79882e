// The host runtime's calls, as the driver relies on them. The driver calls nothing of
// the host runtime but these. Results are read as unsigned 16-bit values.
#pragma once

#include <stdint.h>

extern "C" {

uint16_t HevMkClient(const char *name, int a, int b, uint8_t *clientId);
uint16_t HevRmClient(uint8_t clientId);
uint16_t HevWaitMsg(uint8_t clientId, void *message24, int mode);
uint16_t HevSetPlcCommStatus(uint8_t clientId, uint8_t driver, int station, int a, int status);
uint16_t HevGetGateIdByAddressStr(uint8_t clientId, uint8_t driver, const char *address,
                                  int *gateId);
uint16_t HevGetGateVal(uint8_t clientId, int a, int gateId, double *value, void *out1, void *out2);
uint16_t HevPutGateVal(uint8_t clientId, int gateId, int a, double value, int b, int c);
uint16_t HevGetGateDef(uint8_t clientId, int gateId, void *definition328);
void err(int level, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // extern "C"

// Results and record layout that the driver reads.
enum : uint16_t {
  kHevOk = 0,
  kHevNoSuchGate = 5,         // HevGetGateIdByAddressStr: no gate with this address
  kHevNoGateDefinition = 48,  // HevGetGateDef: no gate with this id
};

constexpr int kLogOperational = 32;  // log level of operational messages
constexpr int kLogDetail = 0;        // log level of packet details and device faults

constexpr int kGateDefinitionSize = 328;
constexpr int kGateDefinitionDriverIndexOffset = 168;  // signed 32-bit
constexpr int kGateDefinitionAddressOffset = 172;      // NUL-terminated text
