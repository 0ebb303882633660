// What the loader's spine asks of the console module manager. The manager (module search,
// load, swap, start, attach and the loader block) implements these; until a module is loaded,
// every value path finds no running module and keeps its values cached.
#pragma once

namespace ks {

// Factory step 8: the loader block for the tray program.
void create_loader_block();
// Factory step 9, after the two notifier threads: the module watcher thread.
void start_modules_watcher();
// LV1 registered a gain-changed callback (module_lock held): start the type's loaded module
// once per load, then refresh_live_card.
void start_console_module(int type);
// The type's live card may have changed: republish the type's state and attach the module to
// a new live card.
void refresh_live_card(int type);

}  // namespace ks
