// The live card rule: which of LV1's boxes of a console type the loader drives. Every value
// path, the console module's host callbacks and the loader block use this one rule.
#pragma once

#include <cstdint>

namespace ks {

// What the rule looks at for one box index.
struct BoxFacts {
  bool exists;       // a wrapped box sits at this index
  int console_type;  // -1: none
  bool released;
  bool offline;       // LV1 declared the device offline
  bool online;        // a real MAC is known
  bool has_callback;  // its gain object holds LV1's gain-changed callback
};

// Among the boxes of the type that are not released, not offline and have the callback: the
// first that is online, else the last one. Returns its index, or -1 when there is none.
int live_card_index(const BoxFacts* boxes, int count, int type);

// True when the box at index must not drive the console: no box, no type or offline, or a live
// card exists and is another box. With no live card at all a non-offline box of the type counts
// as live.
bool is_not_live_card(const BoxFacts* boxes, int count, int index);

}  // namespace ks
