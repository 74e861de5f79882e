// Fields of the host's packed records. The host contract places multi-byte fields at
// offsets that are not multiples of their size, so no field is ever reached through a
// typed pointer: each one is raw bytes with accessors.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

static_assert(sizeof(void *) == 4, "the host contract holds 32-bit pointers");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the host contract is little-endian");

// A field that only one thread uses at a time: copied in and out with memcpy.
template <typename T>
class Unaligned {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  T Get() const {
    T value;
    std::memcpy(&value, raw_, sizeof value);
    return value;
  }
  void Set(T value) { std::memcpy(raw_, &value, sizeof value); }

 private:
  unsigned char raw_[sizeof(T)];
};

// A signed 32-bit field that the driver's threads read while another thread writes it.
// Each access is one 32-bit load or store (x86 allows them at any address), so a reader
// sees the old or the new value, never a mixture of their bytes.
class SharedInt32 {
 public:
  std::int32_t Load() const { return reinterpret_cast<const volatile Cell *>(raw_)->value; }
  void Store(std::int32_t value) { reinterpret_cast<volatile Cell *>(raw_)->value = value; }

 private:
  struct __attribute__((packed, may_alias)) Cell {
    std::int32_t value;
  };
  unsigned char raw_[4];
};

static_assert(sizeof(Unaligned<std::uint16_t>) == 2 && alignof(Unaligned<std::uint16_t>) == 1);
static_assert(sizeof(SharedInt32) == 4 && alignof(SharedInt32) == 1);
