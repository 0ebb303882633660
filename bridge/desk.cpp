#include "bridge/desk.h"

#include <atomic>
#include <cstring>

#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/text.h"
#include "os/lock.h"

namespace ks {

namespace {

std::atomic<const DeskDriver*> g_driver{nullptr};
std::atomic<uint32_t (*)()> g_refusals{nullptr};

CriticalSection& g_desk_lock = *new CriticalSection;  // never freed (os/lock.h)
DeskIdentity g_desk{};

}  // namespace

void use_desk_driver(const DeskDriver* driver, uint32_t (*refusals)()) {
  g_refusals.store(refusals, std::memory_order_release);
  g_driver.store(driver, std::memory_order_release);
}

const DeskDriver* desk_driver() { return g_driver.load(std::memory_order_acquire); }

uint32_t control_refusals() {
  uint32_t (*refusals)() = g_refusals.load(std::memory_order_acquire);
  return refusals ? refusals() : 0;
}

DeskIdentity desk_identity() {
  LockGuard<CriticalSection> lock(g_desk_lock);
  return g_desk;
}

void use_desk(const DeskAnswer& answer) {
  // The answer came from the driver: bound every field by its own size.
  char ip[48], id[40], name[40], model[24];
  copy_text(ip, sizeof ip, std::string_view(answer.ip, bounded_len(answer.ip, sizeof answer.ip)));
  copy_text(id, sizeof id, std::string_view(answer.id, bounded_len(answer.id, sizeof answer.id)));
  copy_text(name, sizeof name,
            std::string_view(answer.name, bounded_len(answer.name, sizeof answer.name)));
  copy_text(model, sizeof model,
            std::string_view(answer.model, bounded_len(answer.model, sizeof answer.model)));
  {
    LockGuard<CriticalSection> lock(g_desk_lock);
    copy_text(g_desk.ip, sizeof g_desk.ip, ip);
    copy_text(g_desk.id, sizeof g_desk.id, id);
    copy_text(g_desk.name, sizeof g_desk.name, name[0] ? name : (id[0] ? id : ip));
  }
  const DeskDriver* d = desk_driver();
  const char* line = (d && d->identity) ? d->identity() : nullptr;
  framework_hooks().desk_taken(ip, line);
  const char* model_name = (d && d->model_name) ? d->model_name : "desk";
  if (id[0])
    log_info("[bridge] using %s (%s) - %s %s, id %s", ip, model_name, model, name, id);
  else
    log_info("[bridge] using %s (%s) - identity not checked", ip, model_name);
  if (!d) return;
  if (d->meters_start) d->meters_start(&answer);
  if (d->set_event_callback) d->set_event_callback(framework_hooks().desk_event);
  if (d->connect) d->connect(ip);
}

bool drop_desk() {
  uint32_t before = stuck_threads();
  const DeskDriver* d = desk_driver();
  if (d) {
    if (d->set_event_callback) d->set_event_callback(nullptr);
    if (d->disconnect) d->disconnect();
    if (d->meters_stop) d->meters_stop();
  }
  return stuck_threads() == before;
}

bool desk_link_alive() {
  const DeskDriver* d = desk_driver();
  return d && d->link_alive && d->link_alive();
}

bool desk_read_source(const char* slot, uint32_t n, char bank_out[8], uint32_t* input) {
  std::memset(bank_out, 0, 8);
  *input = 0;
  const DeskDriver* d = desk_driver();
  if (!d || !d->read_source) return false;
  bool ok = d->read_source(slot, n, bank_out, 8, input);
  bank_out[7] = '\0';
  return ok;
}

bool desk_read_name(const char* bank, int32_t n, char* out, int32_t len) {
  if (!out || len <= 0) return false;
  std::memset(out, 0, size_t(len));
  const DeskDriver* d = desk_driver();
  if (!d || !d->read_name) return false;
  bool ok = d->read_name(bank, n, out, len);
  out[len - 1] = '\0';
  return ok;
}

void desk_reset() {
  LockGuard<CriticalSection> lock(g_desk_lock);
  std::memset(&g_desk, 0, sizeof g_desk);
}

}  // namespace ks
