#include "app/frame.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/io.h>

#include "runtime/print/print.h"
#include "runtime/term/term.h"

namespace {

// A context record: the destructor, then the data area, aligned for any type.
struct ContextHeader {
  ContextDestructor destructor;
};
constexpr std::size_t kDataOffset = alignof(std::max_align_t);
static_assert(sizeof(ContextHeader) <= kDataOffset);

// Outside the run-time state block: start-up does not clear them.
struct FrameState {
  int32_t init_counter;                  // start-up runs at 1, shut-down at 0
  ContextHeader* slots[CONTEXT_SLOTS];   // empty until first use
  int32_t* error_code;                   // the error context's code once created; every byte read sets it
};
constinit FrameState frame{};

// The error context's data area starts with the runtime error code.
constexpr std::size_t kErrorContextSize = 48;

void* data_of(ContextHeader* record) { return reinterpret_cast<char*>(record) + kDataOffset; }

void handle_new_failure() { end_on_out_of_memory(); }

}  // namespace

void runtime_startup() {
  if (++frame.init_counter != 1) return;
  reset_file_records();
  term_init();
  (void)ioperm(0, 1024, 1);  // refused for unprivileged processes; that is fine
  std::setlocale(LC_CTYPE, "");
  std::set_new_handler(handle_new_failure);
}

void runtime_shutdown() {
  if (--frame.init_counter != 0) return;
  term_shutdown();
  context_release_all();
}

void program_end(int32_t status) { std::exit(status); }

void end_on_out_of_memory() {
  // exit() runs the finaliser, which restores the terminal first.
  std::exit(EXIT_FAILURE);
}

void* context_get(int index, std::size_t size, ContextDestructor destructor) {
  if (index < 0 || index >= CONTEXT_SLOTS) return nullptr;
  if (ContextHeader* record = frame.slots[index]) return data_of(record);
  auto* record = static_cast<ContextHeader*>(std::calloc(1, kDataOffset + size));
  if (record == nullptr) return nullptr;
  record->destructor = destructor;
  frame.slots[index] = record;
  return data_of(record);
}

void* context_require(int index, std::size_t size, ContextDestructor destructor) {
  void* data = context_get(index, size, destructor);
  if (data == nullptr) end_on_out_of_memory();
  return data;
}

void context_release(int index) {
  if (index < 0 || index >= CONTEXT_SLOTS) return;
  ContextHeader* record = frame.slots[index];
  if (record == nullptr) return;
  frame.slots[index] = nullptr;
  if (index == CONTEXT_ERROR) frame.error_code = nullptr;
  if (record->destructor != nullptr) record->destructor(data_of(record));
  std::free(record);
}

void context_release_all() {
  for (int index = 0; index < CONTEXT_SLOTS; ++index) context_release(index);
}

namespace {
int32_t* error_code() {
  if (frame.error_code == nullptr)
    frame.error_code = static_cast<int32_t*>(context_require(CONTEXT_ERROR, kErrorContextSize, nullptr));
  return frame.error_code;
}
}  // namespace

int32_t set_error(int32_t code) {
  *error_code() = code;
  return code;
}

int32_t get_error() { return *error_code(); }
