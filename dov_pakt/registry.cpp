#include "dov_pakt/registry.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace pakt {
namespace {

struct Entry {
  ObjectKind kind;
  uint32_t capacity;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void *, Entry> objects;
};

// Never destroyed: a caller may still free objects from its own static destructors or
// while the library is being unloaded.
Registry &TheRegistry() {
  static Registry *registry = new Registry;
  return *registry;
}

}  // namespace

uint8_t *AllocateObject(ObjectKind kind, uint32_t capacity) {
  uint8_t *object = new (std::nothrow) uint8_t[capacity]();
  if (object == nullptr) return nullptr;
  Registry &registry = TheRegistry();
  try {
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.objects[object] = Entry{kind, capacity};
  } catch (const std::bad_alloc &) {
    delete[] object;
    return nullptr;
  }
  return object;
}

uint32_t CapacityOf(const void *object, ObjectKind kind) {
  if (object == nullptr) return 0;
  Registry &registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto found = registry.objects.find(object);
  if (found == registry.objects.end() || found->second.kind != kind) return 0;
  return found->second.capacity;
}

bool FreeObject(void *object, ObjectKind kind) {
  if (object == nullptr) return false;
  Registry &registry = TheRegistry();
  {
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.objects.find(object);
    if (found == registry.objects.end() || found->second.kind != kind) return false;
    registry.objects.erase(found);
  }
  delete[] static_cast<uint8_t *>(object);
  return true;
}

}  // namespace pakt
