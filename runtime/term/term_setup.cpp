// Terminal set-up and restoration, the capability emitter and the terminal mutex.
#include <pthread.h>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

constinit TermState term_state{};

namespace {
pthread_mutex_t term_mutex;
}

void term_init() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&term_mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  term_state = TermState{};
}

void term_shutdown() {
  if (term_state.kind != TERM_KIND_OFF) term_restore();
  term_state.kind = TERM_KIND_OFF;
  pthread_mutex_destroy(&term_mutex);
}

void term_restore() {}
int32_t term_enter_modes() { return -1; }
int32_t term_kind() { return term_state.kind; }
bool term_emit(int32_t, int32_t, int32_t) { return false; }
void term_lock() { pthread_mutex_lock(&term_mutex); }
void term_unlock() { pthread_mutex_unlock(&term_mutex); }
