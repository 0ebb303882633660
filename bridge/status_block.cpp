// The status block itself: created and mapped (or put in ordinary memory for tests), zeroed and
// stamped at publish, closed at stop; and the fields others than the watcher's publish write into
// it: the address check, discovery's status line and the desk taken.
#include "bridge/status_block.h"

#include <atomic>
#include <cstring>
#include <string>

#include "bridge/channel_model.h"
#include "bridge/desk.h"
#include "bridge/host.h"
#include "bridge/lifecycle.h"
#include "bridge/status_block_shared.h"
#include "bridge/status_text.h"
#include "bridge/text.h"
#include "bridge/value_writer.h"
#include "os/lock.h"
#include "os/shared_memory.h"
#include "os/utf.h"

namespace ks {

namespace {

// Publishing may be tried from discovery, from taking a desk and from the watcher at once.
CriticalSection& g_publish_lock = *new CriticalSection;  // never freed (os/lock.h)
SharedMemory g_mapping;
StatusBlock* g_memory = nullptr;
std::atomic<StatusBlock*> g_block{nullptr};
std::string g_name;  // built once

CriticalSection& g_address_lock = *new CriticalSection;  // never freed (os/lock.h)
AddressCheck g_address;

CriticalSection& g_text_lock = *new CriticalSection;  // never freed (os/lock.h)
char g_last_set_text[kStatusTextBytes] = {};

void stamp(StatusBlock* b) {
  std::memset(b, 0, sizeof *b);
  b->magic = kStatusMagic;
  b->version = kStatusLayoutVersion;
}

void on_published(StatusBlock* b) {
  // A re-published block starts with an empty request_seq; a remembered one would swallow the
  // tray's next request if it happened to carry the same number.
  watch_request_forget();
  status_snapshot_forget();
  g_block.store(b, std::memory_order_release);
  set_status_view(b);
}

}  // namespace

StatusBlock* status_block() { return g_block.load(std::memory_order_acquire); }

void status_block_use_memory(StatusBlock* mem) {
  LockGuard<CriticalSection> hold(g_publish_lock);
  g_memory = mem;
  if (mem) {
    stamp(mem);
    on_published(mem);
  } else {
    StatusBlock* mapped = g_mapping.valid() ? static_cast<StatusBlock*>(g_mapping.data()) : nullptr;
    g_block.store(mapped);
    set_status_view(mapped);
  }
}

bool status_block_publish() {
  LockGuard<CriticalSection> hold(g_publish_lock);
  if (g_block.load()) return true;
  if (g_memory) {
    stamp(g_memory);
    on_published(g_memory);
    return true;
  }
  if (g_name.empty())
    g_name = std::string(kStatusBlockBaseName) + utf16_to_utf8(host_status_suffix());
  if (g_name.size() >= kStatusBlockNameMax) g_name.resize(kStatusBlockNameMax - 1);
  if (!g_mapping.valid() && !g_mapping.create(g_name, kStatusMappingSize)) {
    log_info(
        "[shm] could not create the status block %s (error %u) - the dashboard will not see this module",
        g_name.c_str(), static_cast<unsigned>(g_mapping.last_error()));
    return false;
  }
  auto* b = static_cast<StatusBlock*>(g_mapping.data());
  stamp(b);
  on_published(b);
  log_info("[shm] status block published as %s", g_name.c_str());
  return true;
}

void status_set_address(const AddressCheck& check) {
  LockGuard<CriticalSection> hold(g_address_lock);
  g_address = check;
  g_address.ip[sizeof g_address.ip - 1] = '\0';
  g_address.id[sizeof g_address.id - 1] = '\0';
  g_address.name[sizeof g_address.name - 1] = '\0';
}

AddressCheck status_address() {
  LockGuard<CriticalSection> hold(g_address_lock);
  return g_address;
}

void status_write_address() {
  StatusBlock* b = status_block();
  if (!b) return;
  AddressCheck a = status_address();
  shm_store(b->address_state, a.state);
  shm_store(b->address_moves, a.moves);
  put_text(b->address_ip, a.ip);
  put_text(b->address_id, a.id);
  put_text(b->address_name, a.name);
}

namespace {

StatusTextInputs text_inputs(const StatusBlock* b) {
  StatusTextInputs in;
  in.desk_chosen = desk_chosen();
  in.decision = b ? b->discovery_decision : 0;
  in.answer_count = b ? b->answer_count : 0;
  in.address_state = status_address().state;
  in.patch_read = patch_is_read();
  in.control_refusals = control_refusals();
  in.tcp_lock = tcp_lock.load();
  return in;
}

void write_status_text(StatusBlock* b, const char* text) { put_text(b->status_text, text); }

}  // namespace

void status_set_text(const char* text) {
  if (!status_block_publish()) return;
  StatusBlock* b = status_block();
  if (!b) return;
  status_write_address();
  LockGuard<CriticalSection> hold(g_text_lock);
  if (!text || !*text) {
    char current[kStatusTextBytes];
    copy_field_text(current, b->status_text, sizeof b->status_text);
    if (std::strcmp(current, g_last_set_text) == 0) {
      char line[kStatusTextBytes] = {};
      // Before a desk is chosen no watcher pass writes the line: say what discovery is at.
      if (!desk_chosen()) {
        StatusTextInputs in = text_inputs(b);
        DeskIdentity id = desk_identity();
        in.desk_display = id.name;
        choose_status_text(in, line, sizeof line);
      }
      write_status_text(b, line);
    }
    g_last_set_text[0] = '\0';
    return;
  }
  write_status_text(b, text);
  copy_text(g_last_set_text, sizeof g_last_set_text, text);
}

void status_desk_taken(const char* ip, const char* identity_line) {
  if (!status_block_publish()) return;
  StatusBlock* b = status_block();
  if (!b) return;
  put_text(b->desk_ip, ip);
  put_text(b->desk_line, identity_line);
}

void status_text_sync(StatusBlock* b) {
  StatusTextInputs in = text_inputs(b);
  DeskIdentity id = desk_identity();
  in.desk_display = id.name[0] ? id.name : id.id;
  char text[kStatusTextBytes] = {};
  choose_status_text(in, text, sizeof text);
  LockGuard<CriticalSection> hold(g_text_lock);
  write_status_text(b, text);
  g_last_set_text[0] = '\0';
}

void status_block_close(bool unmap) {
  LockGuard<CriticalSection> hold(g_publish_lock);
  StatusBlock* b = g_block.load();
  if (!b) return;
  shm_store(b->desk_answering, 0);
  shm_store(b->lv1_loaded, 0);
  shm_store(b->meters_live, 0);
  put_text(b->status_text, "Module stopped");
  if (!unmap) return;
  g_block.store(nullptr, std::memory_order_release);
  set_status_view(nullptr);
  if (b != g_memory) g_mapping.close();
}

void status_block_reset() {
  LockGuard<CriticalSection> hold(g_publish_lock);
  g_block.store(nullptr);
  set_status_view(nullptr);
  g_memory = nullptr;
  g_mapping.close();
  g_name.clear();
  watch_request_forget();
  status_snapshot_forget();
  // One lock at a time: the status-text path takes the address lock while it holds the text
  // lock, so holding both here in the other order could deadlock against it.
  {
    LockGuard<CriticalSection> hold_address(g_address_lock);
    g_address = AddressCheck{};
  }
  LockGuard<CriticalSection> hold_text(g_text_lock);
  g_last_set_text[0] = '\0';
}

}  // namespace ks
