#include "os/adapters.h"

#include <mutex>

namespace ks {

namespace {
std::mutex g_source_lock;
AdapterSource g_source;
}  // namespace

void set_adapter_source(AdapterSource source) {
  std::lock_guard<std::mutex> g(g_source_lock);
  g_source = std::move(source);
}

std::vector<Ipv4Adapter> list_ipv4_adapters() {
  AdapterSource source;
  {
    std::lock_guard<std::mutex> g(g_source_lock);
    source = g_source;
  }
  return source ? source() : system_ipv4_adapters();
}

}  // namespace ks
