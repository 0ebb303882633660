#include "os/lock.h"

#include <pthread.h>

#include <new>

namespace ks {

namespace {
pthread_mutex_t* mtx(unsigned char* s) { return reinterpret_cast<pthread_mutex_t*>(s); }
pthread_rwlock_t* rw(unsigned char* s) { return reinterpret_cast<pthread_rwlock_t*>(s); }
}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64);
static_assert(sizeof(pthread_rwlock_t) <= 64);

// Recursive, as a Windows critical section is.
CriticalSection::CriticalSection() {
  pthread_mutexattr_t a;
  pthread_mutexattr_init(&a);
  pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage_) pthread_mutex_t, &a);
  pthread_mutexattr_destroy(&a);
}
CriticalSection::~CriticalSection() { pthread_mutex_destroy(mtx(storage_)); }
void CriticalSection::lock() { pthread_mutex_lock(mtx(storage_)); }
bool CriticalSection::try_lock() { return pthread_mutex_trylock(mtx(storage_)) == 0; }
void CriticalSection::unlock() { pthread_mutex_unlock(mtx(storage_)); }

RwLock::RwLock() { pthread_rwlock_init(new (storage_) pthread_rwlock_t, nullptr); }
RwLock::~RwLock() { pthread_rwlock_destroy(rw(storage_)); }
void RwLock::lock() { pthread_rwlock_wrlock(rw(storage_)); }
bool RwLock::try_lock() { return pthread_rwlock_trywrlock(rw(storage_)) == 0; }
void RwLock::unlock() { pthread_rwlock_unlock(rw(storage_)); }
void RwLock::lock_shared() { pthread_rwlock_rdlock(rw(storage_)); }
bool RwLock::try_lock_shared() { return pthread_rwlock_tryrdlock(rw(storage_)) == 0; }
void RwLock::unlock_shared() { pthread_rwlock_unlock(rw(storage_)); }

}  // namespace ks
