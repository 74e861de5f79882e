// What decoding a received 32-channel sample packet costs against copying its bytes:
// the message walk, the sample record decoder, the differential counts and their
// normalization, without the socket and the host's gate calls. Also counts the heap
// allocations on that path, which must be none.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "contracts/dov_pakt.h"
#include "countnet/codecs.h"
#include "countnet/packet_frame.h"
#include "countnet/sample_values.h"

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);

namespace {
volatile unsigned long allocations = 0;
}  // namespace

// Every allocation of the process, the packet library's included, goes through these.
extern "C" void *malloc(size_t size) {
  allocations = allocations + 1;
  return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size) {
  allocations = allocations + 1;
  return __libc_calloc(count, size);
}
extern "C" void *realloc(void *pointer, size_t size) {
  allocations = allocations + 1;
  return __libc_realloc(pointer, size);
}

namespace {

constexpr int kIterations = 200000;
constexpr int kRounds = 7;

// A packet as a 32-channel station sends it, in a receive buffer.
void BuildSamplePacket(unsigned char (&buffer)[kPacketBufferSize]) {
  SampleRecord record;
  std::memset(&record, 0, sizeof record);
  record.channelCount = 32;
  record.sampleVolume.Set(2832);
  record.statusFlags = 0x0F;
  for (int i = 0; i < 32; ++i) record.channelCounts[i].Set(100000 - 3000 * i);
  void *packet = pvPktAllocatePacket(kPacketBufferSize);
  void *message = pvMsgAllocateMessage(1000);
  vMsgSetMessageType(message, kMessageSampleData);
  iDataAddSampleRecord(message, &record);
  iPktAddMessage(packet, message);
  std::memset(buffer, 0, sizeof buffer);
  std::memcpy(buffer, packet, dwPktGetPacketLength(packet));
  iPktFreePacket(packet);
  iMsgFreeMessage(message);
}

// The driver's path through a received packet, up to the values for the gates.
float DecodePacket(unsigned char *packet) {
  float checksum = 0;
  void *message = nullptr;
  std::uint16_t count = PacketMessageCount(packet);
  for (std::uint16_t i = 0; i < count; ++i) {
    message = pvPktGetNextMessagePointer(packet, message);
    if (message == nullptr) break;
    if (wMsgGetMessageType(message) != kMessageSampleData) continue;
    SampleValues values;
    if (DecodeSampleMessage(message, &values) == 0) checksum += values.normalized[31];
  }
  return checksum;
}

template <typename Work>
double BestNanosecondsPerCall(Work work) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kIterations; ++i) work();
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    double perCall = elapsed.count() / kIterations;
    if (perCall < best) best = perCall;
  }
  return best;
}

}  // namespace

int main() {
  static unsigned char packet[kPacketBufferSize];
  static unsigned char copy[kPacketBufferSize];
  BuildSamplePacket(packet);
  auto length = static_cast<std::size_t>(PacketTotalLength(packet));

  volatile float sink = 0;
  double copyNs = BestNanosecondsPerCall([&] {
    std::memcpy(copy, packet, length);
    asm volatile("" : : "r"(copy) : "memory");  // the copy must really happen every time
  });
  unsigned long before = allocations;
  double decodeNs = BestNanosecondsPerCall([&] { sink = sink + DecodePacket(packet); });
  unsigned long decodeAllocations = allocations - before;

  std::printf("sample packet: %zu bytes, 32 channels\n", length);
  std::printf("memcpy of the packet:  %8.1f ns\n", copyNs);
  std::printf("decode of the packet:  %8.1f ns\n", decodeNs);
  std::printf("ratio decode/memcpy:   %8.1f (target: at most 10)\n", decodeNs / copyNs);
  std::printf("heap allocations while decoding %d packets: %lu\n", kIterations * kRounds,
              decodeAllocations);
  return decodeAllocations == 0 ? 0 : 1;
}
