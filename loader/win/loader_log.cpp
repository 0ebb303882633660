// Log files are Win32 handles written from static and stack buffers: the same path serves the
// access-violation handler, which must not touch a CRT stream or the heap the fault may have hit.
//
// A line is stamped and formatted on the caller's thread and handed to the log queue; the log
// thread writes it. Only when the queue is full does the caller write itself, after draining
// what was handed over before its line, so each file keeps its order. The access-violation
// logger writes at once (the process may be about to end) through the same direct path.
#include "loader/win/loader_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "loader/log_writer.h"
#include "loader/win/guard.h"
#include "os/lock.h"

namespace ks {

namespace {

struct Channel {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint64_t bytes = 0;
};

// Made once by log_attach and never freed: the log outlives every other part of the loader,
// and at process end the log thread may still hold it.
CriticalSection* log_lock = nullptr;
volatile LONG logging_on = 0;
volatile LONG lock_state = 0;  // 0 none, 1 being created, 2 ready
Channel channels[kLogChannels];
DWORD in_log_slot = TLS_OUT_OF_INDEXES;  // set while this thread is inside the log path
volatile LONG access_violations = 0;

HANDLE g_log_thread = nullptr;     // null: every line is written directly
HANDLE g_log_wake = nullptr;       // auto-reset: a line arrived while the log thread slept
volatile LONG g_log_sleeping = 0;  // 1 while the log thread waits (or is about to)

// <temp folder><name> into out; false when it does not fit.
bool log_path(int channel, bool rotated, wchar_t* out, DWORD cap) {
  DWORD n = GetTempPathW(cap, out);
  if (n == 0 || n >= cap) return false;
  std::string name = log_file_name(channel, rotated);
  if (n + name.size() + 1 > cap) return false;
  for (char c : name) out[n++] = static_cast<wchar_t>(c);
  out[n] = 0;
  return true;
}

HANDLE open_log(const wchar_t* path, DWORD disposition) {
  return CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

uint64_t file_size(HANDLE h) {
  LARGE_INTEGER size;
  return GetFileSizeEx(h, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

// Under log_lock: the channel's file, opened on first use, rotated when full.
bool ready_channel(int channel) {
  Channel& ch = channels[channel];
  wchar_t path[MAX_PATH + 64];
  if (ch.file == INVALID_HANDLE_VALUE) {
    if (!log_path(channel, false, path, MAX_PATH + 64)) return false;
    ch.file = open_log(path, OPEN_ALWAYS);
    if (ch.file == INVALID_HANDLE_VALUE) return false;
    ch.bytes = file_size(ch.file);
  }
  if (!log_needs_rotation(ch.bytes)) return true;
  wchar_t rotated[MAX_PATH + 64];
  CloseHandle(ch.file);
  ch.file = INVALID_HANDLE_VALUE;
  if (!log_path(channel, false, path, MAX_PATH + 64) ||
      !log_path(channel, true, rotated, MAX_PATH + 64))
    return false;
  DeleteFileW(rotated);
  MoveFileW(path, rotated);
  ch.file = open_log(path, OPEN_ALWAYS);
  if (ch.file == INVALID_HANDLE_VALUE) return false;
  ch.bytes = file_size(ch.file);
  if (log_needs_rotation(ch.bytes)) {
    // The move failed (someone holds the file without sharing delete): start the log afresh
    // rather than let it grow without bound.
    CloseHandle(ch.file);
    ch.file = open_log(path, CREATE_ALWAYS);
    if (ch.file == INVALID_HANDLE_VALUE) return false;
    ch.bytes = 0;
  }
  return true;
}

// ---- writing (all under log_lock) ----

class WinLogFiles final : public LogFiles {
public:
  bool ready(int channel) override { return ready_channel(channel); }
  uint64_t bytes(int channel) override { return channels[channel].bytes; }
  void write(int channel, const char* data, size_t n) override {
    Channel& ch = channels[channel];
    if (ch.file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(ch.file, data, static_cast<DWORD>(n), &written, nullptr);
    ch.bytes += written;
  }
};

WinLogFiles g_files;
LogWriter g_writer(g_files);

void drain_locked(bool through_claimed) { g_writer.drain(through_claimed); }

// The caller's own write: everything handed over before this line goes first.
void write_direct(int channel, const char* line, size_t n) {
  LockGuard<CriticalSection> hold(*log_lock);
  g_writer.write_now(channel, line, n);
}

// Lines the log thread writes per hold of log_lock: a caller with a full queue waits for at most
// one such write before it may write itself.
constexpr size_t kLinesPerHold = 64;

DWORD WINAPI log_thread(void*) {
  if (in_log_slot != TLS_OUT_OF_INDEXES) TlsSetValue(in_log_slot, reinterpret_cast<void*>(1));
  for (;;) {
    size_t taken;
    do {
      LockGuard<CriticalSection> hold(*log_lock);
      taken = g_writer.drain(false, kLinesPerHold);
    } while (taken == kLinesPerHold);
    InterlockedExchange(&g_log_sleeping, 1);
    if (!g_writer.idle()) {
      // A line arrived (or is being copied) meanwhile: go round again instead of sleeping.
      InterlockedExchange(&g_log_sleeping, 0);
      Sleep(0);
      continue;
    }
    WaitForSingleObject(g_log_wake, INFINITE);
  }
}

bool inside_log_path() {
  return in_log_slot != TLS_OUT_OF_INDEXES && TlsGetValue(in_log_slot) != nullptr;
}
void set_inside_log_path(bool on) {
  if (in_log_slot != TLS_OUT_OF_INDEXES)
    TlsSetValue(in_log_slot, on ? reinterpret_cast<void*>(1) : nullptr);
}

bool lock_ready() { return lock_state == 2; }

}  // namespace

void log_attach() {
  if (InterlockedCompareExchange(&lock_state, 1, 0) == 0) {
    log_lock = new CriticalSection;
    in_log_slot = TlsAlloc();
    g_log_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Runs for the life of the process (the loader stays mapped); it counts as inside the log
    // path, so that a fault in it is never logged through itself.
    if (g_log_wake) g_log_thread = CreateThread(nullptr, 0, log_thread, nullptr, 0, nullptr);
    InterlockedExchange(&lock_state, 2);
  }
  while (!lock_ready()) Sleep(0);
  InterlockedExchange(&logging_on, 1);
}

void log_detach() {
  InterlockedExchange(&logging_on, 0);
  if (!lock_ready()) return;
  // What is still queued goes out now. The loader stays mapped, so this is the process ending:
  // every other thread is gone already, the log thread perhaps halfway through a write with the
  // lock held. Then nobody else can touch the logs any more, and they are written without it
  // (a line that thread was writing may appear twice, none is lost). Under Wine the other
  // threads are ended asynchronously, so the log thread may still be finishing its batch: it gets
  // a moment to let go of the lock first, so that two writers never share a file's handle.
  bool locked = log_lock->try_lock();
  for (int waited = 0; !locked && waited < 200; ++waited) {
    Sleep(1);
    locked = log_lock->try_lock();
  }
  drain_locked(false);
  if (locked) log_lock->unlock();
}

void log_flush() {
  if (!lock_ready()) return;
  const bool was_inside = inside_log_path();
  set_inside_log_path(true);
  {
    LockGuard<CriticalSection> hold(*log_lock);
    drain_locked(true);
  }
  set_inside_log_path(was_inside);
}

namespace {

// Queues the line and wakes the log thread when it sleeps; false when the queue is full.
bool hand_over(int channel, const char* line, size_t n) {
  if (!g_writer.hand_over(channel, line, n)) return false;
  if (InterlockedCompareExchange(&g_log_sleeping, 0, 1) == 1) SetEvent(g_log_wake);
  return true;
}

// Stamps the line now (the time of the call, not of the write) and hands it over; `at_once`
// writes it before returning, behind everything handed over earlier.
void log_line(int channel, const char* text, bool at_once) {
  if (!logging_on || !lock_ready() || channel < 0 || channel >= kLogChannels) return;
  SYSTEMTIME t;
  GetLocalTime(&t);
  char line[kLogLineBytes];
  size_t n =
      format_log_line(line, sizeof line, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, text);
  if (!at_once && g_log_thread && hand_over(channel, line, n)) return;
  const bool was_inside = inside_log_path();
  set_inside_log_path(true);
  write_direct(channel, line, n);
  set_inside_log_path(was_inside);
}

}  // namespace

void write_log_line(int channel, const char* text) { log_line(channel, text, false); }

void loader_log(int channel, const char* format, ...) {
  char text[kLogTextBytes];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  text[sizeof text - 1] = 0;
  write_log_line(channel, text);
}

void log_chunk_text(int channel, const char* label, const char* text) {
  write_log_line(channel, chunk_text_line(label, text).c_str());
}

void log_close_all() {
  if (!lock_ready()) return;
  LockGuard<CriticalSection> hold(*log_lock);
  drain_locked(true);
  for (Channel& ch : channels) {
    if (ch.file != INVALID_HANDLE_VALUE) CloseHandle(ch.file);
    ch.file = INVALID_HANDLE_VALUE;
    ch.bytes = 0;
  }
}

namespace {

// "module.dll+0x1234", or the bare address when no module holds it.
void describe_address(DWORD64 pc, char* out, size_t cap) {
  HMODULE mod = nullptr;
  wchar_t path[MAX_PATH];
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(pc), &mod) &&
      mod && GetModuleFileNameW(mod, path, MAX_PATH) > 0) {
    path[MAX_PATH - 1] = 0;
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
      if (*p == L'\\' || *p == L'/') name = p + 1;
    std::snprintf(out, cap, "%S+0x%llx", name,
                  static_cast<unsigned long long>(pc - reinterpret_cast<DWORD64>(mod)));
  } else {
    std::snprintf(out, cap, "%p", reinterpret_cast<void*>(pc));
  }
}

struct Backtrace {
  CONTEXT ctx;
  DWORD64 frames[24];
  unsigned count;
};

// Walks the faulting thread's stack from the fault's own context (the handler's stack would only
// show the dispatcher). Runs under the guard: a broken stack ends the walk, not the process.
void walk_stack(void* p) {
  Backtrace& bt = *static_cast<Backtrace*>(p);
  CONTEXT& c = bt.ctx;
  while (bt.count < 24 && c.Rip) {
    bt.frames[bt.count++] = c.Rip;
    DWORD64 base = 0;
    RUNTIME_FUNCTION* fn = RtlLookupFunctionEntry(c.Rip, &base, nullptr);
    if (fn) {
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, c.Rip, fn, &c, &handler_data, &establisher,
                       nullptr);
    } else {
      if (!is_readable(reinterpret_cast<void*>(c.Rsp), 8)) break;
      c.Rip = *reinterpret_cast<DWORD64*>(c.Rsp);
      c.Rsp += 8;
    }
  }
}

}  // namespace

LONG CALLBACK on_access_violation(EXCEPTION_POINTERS* info) {
  if (!info || !info->ExceptionRecord ||
      info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return EXCEPTION_CONTINUE_SEARCH;
  // A fault inside the log path or this handler on this thread must not come back here: that
  // recursion would turn a survivable fault into a stack overflow.
  if (inside_log_path()) return EXCEPTION_CONTINUE_SEARCH;
  const LONG n = InterlockedIncrement(&access_violations);
  if (!access_violation_logged(n)) return EXCEPTION_CONTINUE_SEARCH;
  set_inside_log_path(true);
  char where[MAX_PATH + 40];
  char line[MAX_PATH + 80];
  describe_address(reinterpret_cast<DWORD64>(info->ExceptionRecord->ExceptionAddress), where,
                   sizeof where);
  std::snprintf(line, sizeof line, "!! ACCESS VIOLATION #%ld at %s", n, where);
  log_line(kLogLoader, line, true);
  static_assert(sizeof(Backtrace) < 4096, "the backtrace lives on the faulting thread's stack");
  Backtrace bt;
  bt.count = 0;
  if (info->ContextRecord) {
    bt.ctx = *info->ContextRecord;
    ks_guarded_call(walk_stack, &bt, nullptr);
  }
  for (unsigned i = 0; i < bt.count; ++i) {
    describe_address(bt.frames[i], where, sizeof where);
    std::snprintf(line, sizeof line, "     #%02u %s", i, where);
    log_line(kLogLoader, line, true);
  }
  set_inside_log_path(false);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace ks
