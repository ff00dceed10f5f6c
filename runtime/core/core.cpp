// SPDX-License-Identifier: MIT
// Context slots and the runtime error code.
#include "runtime/core/core.h"

#include <cstdlib>

namespace {

// A context record: the destructor, then the data area, aligned for any type.
struct ContextHeader {
  ContextDestructor destructor;
};
constexpr std::size_t kDataOffset = alignof(std::max_align_t);
static_assert(sizeof(ContextHeader) <= kDataOffset);

// Not cleared by start-up: a record outlives everything but shut-down.
struct CoreState {
  ContextHeader* slots[CONTEXT_SLOTS];   // empty until first use
  int32_t* error_code;                   // the error context's code once created; every byte read sets it
};
constinit CoreState core{};

// The error context's data area starts with the runtime error code.
constexpr std::size_t kErrorContextSize = 48;

void* data_of(ContextHeader* record) { return reinterpret_cast<char*>(record) + kDataOffset; }

int32_t* error_code() {
  if (core.error_code == nullptr)
    core.error_code = static_cast<int32_t*>(context_require(CONTEXT_ERROR, kErrorContextSize, nullptr));
  return core.error_code;
}

}  // namespace

void* context_get(int index, std::size_t size, ContextDestructor destructor) {
  if (index < 0 || index >= CONTEXT_SLOTS) return nullptr;
  if (ContextHeader* record = core.slots[index]) return data_of(record);
  auto* record = static_cast<ContextHeader*>(std::calloc(1, kDataOffset + size));
  if (record == nullptr) return nullptr;
  record->destructor = destructor;
  core.slots[index] = record;
  return data_of(record);
}

void* context_require(int index, std::size_t size, ContextDestructor destructor) {
  void* data = context_get(index, size, destructor);
  if (data == nullptr) end_with_failure();
  return data;
}

void context_release(int index) {
  if (index < 0 || index >= CONTEXT_SLOTS) return;
  ContextHeader* record = core.slots[index];
  if (record == nullptr) return;
  core.slots[index] = nullptr;
  if (index == CONTEXT_ERROR) core.error_code = nullptr;
  if (record->destructor != nullptr) record->destructor(data_of(record));
  std::free(record);
}

void context_release_all() {
  for (int index = 0; index < CONTEXT_SLOTS; ++index) context_release(index);
}

int32_t set_error(int32_t code) {
  *error_code() = code;
  return code;
}

int32_t get_error() { return *error_code(); }

void end_with_failure() { std::exit(EXIT_FAILURE); }
