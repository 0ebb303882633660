#include "tray/services/update_scheduler.h"

namespace ks::tray {

void run_update_scheduler(UpdaterState& state, uint64_t now, const SchedulerHooks& hooks) {
  if (state.next_check.load() == 0) {
    state.next_check.store(now + kFirstCheckDelayMs);
    state.staged.store(hooks.ready_marker_present && hooks.ready_marker_present() ? 1 : 0);
  }
  if (now >= state.next_check.load()) {
    uint32_t idle = 0;
    if (state.busy.compare_exchange_strong(idle, 1)) {
      state.next_check.store(now + kCheckIntervalMs);
      // The thread clears busy as its last act; when it never starts, nobody else would.
      if (!hooks.start_check || !hooks.start_check()) state.busy.store(0);
    }
  }

  bool pending = hooks.auto_install && hooks.install_pending && hooks.install_pending();
  bool work = state.staged.load() == 1 || pending;
  if (!work || state.busy.load() != 0 || now < state.loader_retry_at.load()) return;
  if (!hooks.lv1_running || hooks.lv1_running()) return;  // without a way to tell, assume it runs
  state.loader_retry_at.store(now + kInstallRetryMs);

  if (state.staged.load() == 1 && hooks.restart_into_new_app && hooks.restart_into_new_app())
    return;

  // Placing may just have written the marker.
  if (hooks.auto_install && hooks.install_pending && hooks.install_pending() &&
      hooks.install_loader) {
    std::string error;
    if (hooks.install_loader(error)) {
      if (hooks.remove_install_pending) hooks.remove_install_pending();
      if (hooks.log) hooks.log("update: the new loader is installed");
    } else if (hooks.log) {
      if (error.size() > 255) error.resize(255);
      hooks.log("update: installing the new loader failed: " + error + " - retrying in 10 min");
    }
  }
}

}  // namespace ks::tray
