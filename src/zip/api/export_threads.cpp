#include "zip/api/export_threads.h"

#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "platform/thread.h"

namespace quillon {

unsigned export_thread_count() {
  std::string value;
  if (qp::environment_value("QUILLON_THREADS", &value) && !value.empty()) {
    const char* text = value.c_str();
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1)
      return n > long(qp::Workers::kMaxWorkers) ? qp::Workers::kMaxWorkers : static_cast<unsigned>(n);
  }
  const unsigned cpus = qp::processor_count();
  return cpus < kDefaultThreadCap ? cpus : kDefaultThreadCap;
}

}  // namespace quillon
