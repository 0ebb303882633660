#include "loader/live_card.h"

namespace ks {

int live_card_index(const BoxFacts* boxes, int count, int type) {
  int last = -1;
  for (int i = 0; i < count; ++i) {
    const BoxFacts& b = boxes[i];
    if (!b.exists || b.console_type != type || b.released || b.offline || !b.has_callback) continue;
    if (b.online) return i;
    last = i;
  }
  return last;
}

bool is_not_live_card(const BoxFacts* boxes, int count, int index) {
  if (index < 0 || index >= count) return true;
  const BoxFacts& b = boxes[index];
  if (!b.exists || b.console_type < 0 || b.offline) return true;
  const int live = live_card_index(boxes, count, b.console_type);
  return live >= 0 && live != index;
}

}  // namespace ks
