// Events natively: a mutex, a condition and a flag, process-shared when named.
#include "os/event.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "os/posix/named_segment.h"

namespace ks {

namespace {

struct EventShared {
  pthread_mutex_t m;
  pthread_cond_t c;
  uint32_t manual;
  uint32_t signalled;
};

struct EventRec {
  EventShared* shared = nullptr;
  bool named = false;
  posix::NamedSegment seg;
};

struct InitArgs {
  bool manual;
  bool initially_set;
  bool pshared;
};

void init_shared(void* p, void* ctx) {
  auto* a = static_cast<InitArgs*>(ctx);
  auto* e = static_cast<EventShared*>(p);
  pthread_mutexattr_t ma;
  pthread_mutexattr_init(&ma);
  if (a->pshared) {
    pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED);
    // A process that dies inside set() or wait() must not leave the name locked for good.
    pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST);
  }
  pthread_mutex_init(&e->m, &ma);
  pthread_mutexattr_destroy(&ma);
  pthread_condattr_t ca;
  pthread_condattr_init(&ca);
  if (a->pshared) pthread_condattr_setpshared(&ca, PTHREAD_PROCESS_SHARED);
  pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
  pthread_cond_init(&e->c, &ca);
  pthread_condattr_destroy(&ca);
  e->manual = a->manual ? 1 : 0;
  e->signalled = a->initially_set ? 1 : 0;
}

void lock(EventShared* e) {
  if (pthread_mutex_lock(&e->m) == EOWNERDEAD) pthread_mutex_consistent(&e->m);
}

EventRec* rec(void* h) { return static_cast<EventRec*>(h); }

bool open_impl(const std::string& name, posix::OpenMode mode, InitArgs args, void*& h,
               bool& existed) {
  auto* r = new (std::nothrow) EventRec;
  if (!r) return false;
  int fd = -1;
  if (!posix::segment_open("ev", name, sizeof(EventShared), mode, init_shared, &args, r->seg, fd)) {
    delete r;
    return false;
  }
  void* p = mmap(nullptr, sizeof(EventShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                 static_cast<off_t>(posix::kSegmentHeader));
  close(fd);
  if (p == MAP_FAILED || r->seg.header->payload_size < sizeof(EventShared)) {
    if (p != MAP_FAILED) munmap(p, sizeof(EventShared));
    posix::segment_close(r->seg);
    delete r;
    return false;
  }
  r->shared = static_cast<EventShared*>(p);
  r->named = true;
  existed = r->seg.existed;
  h = r;
  return true;
}

}  // namespace

bool Event::create(Reset reset, bool initially_set) {
  close();
  auto* r = new (std::nothrow) EventRec;
  if (!r) return false;
  r->shared = new (std::nothrow) EventShared;
  if (!r->shared) {
    delete r;
    return false;
  }
  InitArgs a{reset == Reset::manual, initially_set, false};
  init_shared(r->shared, &a);
  h_ = r;
  existed_ = false;
  return true;
}

bool Event::create_named(const std::string& name, Reset reset, bool initially_set) {
  close();
  return open_impl(name, posix::OpenMode::create_or_open,
                   InitArgs{reset == Reset::manual, initially_set, true}, h_, existed_);
}

bool Event::open_named(const std::string& name) {
  close();
  return open_impl(name, posix::OpenMode::open_only, InitArgs{}, h_, existed_);
}

void Event::close() {
  EventRec* r = rec(h_);
  if (!r) return;
  if (r->named) {
    munmap(r->shared, sizeof(EventShared));
    posix::segment_close(r->seg);
  } else {
    pthread_cond_destroy(&r->shared->c);
    pthread_mutex_destroy(&r->shared->m);
    delete r->shared;
  }
  delete r;
  h_ = nullptr;
  existed_ = false;
}

void Event::set() {
  EventRec* r = rec(h_);
  if (!r) return;
  EventShared* e = r->shared;
  lock(e);
  e->signalled = 1;
  if (e->manual)
    pthread_cond_broadcast(&e->c);
  else
    pthread_cond_signal(&e->c);
  pthread_mutex_unlock(&e->m);
}

void Event::reset() {
  EventRec* r = rec(h_);
  if (!r) return;
  lock(r->shared);
  r->shared->signalled = 0;
  pthread_mutex_unlock(&r->shared->m);
}

bool Event::wait(uint32_t ms) {
  EventRec* r = rec(h_);
  if (!r) return false;
  EventShared* e = r->shared;
  timespec deadline{};
  if (ms != kInfinite) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
  }
  lock(e);
  while (!e->signalled) {
    int rc = ms == kInfinite ? pthread_cond_wait(&e->c, &e->m)
                             : pthread_cond_timedwait(&e->c, &e->m, &deadline);
    if (rc == EOWNERDEAD)
      pthread_mutex_consistent(&e->m);
    else if (rc == ETIMEDOUT)
      break;
  }
  bool got = e->signalled != 0;
  if (got && !e->manual) e->signalled = 0;
  pthread_mutex_unlock(&e->m);
  return got;
}

}  // namespace ks
