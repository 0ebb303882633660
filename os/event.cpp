#include "os/event.h"

namespace ks {

Event::~Event() { close(); }

Event::Event(Event&& o) noexcept : h_(o.h_), existed_(o.existed_) { o.h_ = nullptr; }

Event& Event::operator=(Event&& o) noexcept {
  if (this != &o) {
    close();
    h_ = o.h_;
    existed_ = o.existed_;
    o.h_ = nullptr;
  }
  return *this;
}

}  // namespace ks
