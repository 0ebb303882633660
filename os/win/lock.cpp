#include "os/lock.h"

#include <windows.h>

#include <new>

namespace ks {

static_assert(sizeof(CRITICAL_SECTION) <= 64);
static_assert(sizeof(SRWLOCK) <= 64);

namespace {
CRITICAL_SECTION* cs(unsigned char* s) { return reinterpret_cast<CRITICAL_SECTION*>(s); }
SRWLOCK* srw(unsigned char* s) { return reinterpret_cast<SRWLOCK*>(s); }
}  // namespace

CriticalSection::CriticalSection() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(cs(storage_)); }
void CriticalSection::lock() { EnterCriticalSection(cs(storage_)); }
bool CriticalSection::try_lock() { return TryEnterCriticalSection(cs(storage_)) != 0; }
void CriticalSection::unlock() { LeaveCriticalSection(cs(storage_)); }

RwLock::RwLock() { InitializeSRWLock(new (storage_) SRWLOCK); }
RwLock::~RwLock() = default;
void RwLock::lock() { AcquireSRWLockExclusive(srw(storage_)); }
bool RwLock::try_lock() { return TryAcquireSRWLockExclusive(srw(storage_)) != 0; }
void RwLock::unlock() { ReleaseSRWLockExclusive(srw(storage_)); }
void RwLock::lock_shared() { AcquireSRWLockShared(srw(storage_)); }
bool RwLock::try_lock_shared() { return TryAcquireSRWLockShared(srw(storage_)) != 0; }
void RwLock::unlock_shared() { ReleaseSRWLockShared(srw(storage_)); }

}  // namespace ks
