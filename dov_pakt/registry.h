// The objects this library handed out. The callers get raw wire images and may pass
// any pointer back; the registry is how a mutating call tells its own live objects
// (and their capacity) from foreign, freed or wrong-kind pointers before writing.
#pragma once

#include <stdint.h>

namespace pakt {

enum class ObjectKind : uint8_t { kPacket, kMessage };

// A zero-filled object of `capacity` bytes, registered as `kind`; null when out of memory.
uint8_t *AllocateObject(ObjectKind kind, uint32_t capacity);

// The capacity of a live object of that kind; 0 for any other pointer. The pointer is
// only compared, never dereferenced.
uint32_t CapacityOf(const void *object, ObjectKind kind);

// Unregisters and releases a live object of that kind; false for any other pointer.
bool FreeObject(void *object, ObjectKind kind);

}  // namespace pakt
