// tempconv: a console temperature converter.
#include "app/converter.h"
#include "runtime/startup.h"

namespace {

// Start-up runs before main as a static initialiser; shut-down runs once as
// the matching finaliser when the process exits through exit().
struct RuntimeLifetime {
  RuntimeLifetime() { runtime_startup(); }
  ~RuntimeLifetime() { runtime_shutdown(); }
  RuntimeLifetime(const RuntimeLifetime&) = delete;
  RuntimeLifetime& operator=(const RuntimeLifetime&) = delete;
};
RuntimeLifetime runtime_lifetime;

}  // namespace

int main() { converter_loop(); }
