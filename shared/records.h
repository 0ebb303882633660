// Ground rules for every record that crosses a binary (loader, console modules, tray program,
// and LV1 or Waves' modules on the far side): the calling convention, fixed capacities, and the
// few helpers for fields that another thread or process writes while we read.
//
// Records are plain structs of fixed-width fields, laid out by natural alignment with every gap
// written out as a reserved field, so the same header gives the same bytes in the mingw-w64
// build and in the native one. Each record header pins its size and offsets with static_assert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Calling convention of every function pointer in a shared record. The Windows x64 ABI is the
// only one LV1, Waves' modules and our binaries use; we spell it out there so a record can never
// silently pick up another. Natively (tests only) both sides are built by the same compiler, so
// the default is the right one.
#if defined(_WIN64)
#define KS_ABI __attribute__((ms_abi))
#else
#define KS_ABI
#endif

namespace ks {

static_assert(sizeof(void*) == 8, "the shared records assume 64-bit pointers");
static_assert(sizeof(double) == 8 && sizeof(bool) == 1,
              "the shared records assume f64 and a one-byte bool");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the shared records are little-endian");

// Fixed capacities; they are part of the data model, not tuning knobs.
inline constexpr uint32_t kChannels = 64;         // LV1 channels of one card
inline constexpr uint32_t kMaxDeviceBoxes = 64;   // device boxes the loader wraps
inline constexpr uint32_t kProtectCapacity = 32;  // inputs on the 48 V protect list
inline constexpr uint32_t kCommandRecords = 8;    // ControlOp records in the CommandRing
inline constexpr uint32_t kConsoleTypes = 2;      // 0 "wing", 1 "x32"

// Console types as the loader numbers them (type t of the LoaderBlock, ModuleHost per type).
inline constexpr int32_t kTypeWing = 0;
inline constexpr int32_t kTypeX32 = 1;
inline constexpr const char* kTypeNames[kConsoleTypes] = {"wing", "x32"};

// A record that crosses a binary stays a plain C record: no constructors, no virtuals, one
// layout the other side can read with its own compiler, safe to zero and to copy bytewise.
template <class T>
inline constexpr bool kPlainRecord = std::is_standard_layout_v<T>&& std::is_trivially_copyable_v<T>;

// A four-character tag as a little-endian u32: fourcc("GNGW") has the bytes 'G','N','G','W'.
constexpr uint32_t fourcc(const char (&tag)[5]) {
  return uint32_t(uint8_t(tag[0])) | uint32_t(uint8_t(tag[1])) << 8 |
         uint32_t(uint8_t(tag[2])) << 16 | uint32_t(uint8_t(tag[3])) << 24;
}

// Words in shared memory that another process (or another thread of LV1's) writes while we read.
// There is no lock on these blocks: each field has one writer, and a reader sees a request or a
// reply only through its sequence word, so those words are read with acquire and written with
// release semantics. The compiler builtins work on plain fields of a mapped view.
inline uint32_t shm_load(const uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }
inline void shm_store(uint32_t& word, uint32_t value) {
  __atomic_store_n(&word, value, __ATOMIC_RELEASE);
}
inline uint32_t shm_add(uint32_t& word, uint32_t delta) {
  return __atomic_add_fetch(&word, delta, __ATOMIC_ACQ_REL);
}

// Copies a text field that came from another binary into a local buffer, never reading past the
// field and always NUL-terminating the result (the source may hold no NUL at all). Returns the
// length copied. out_len must be at least 1.
inline size_t copy_field_text(char* out, size_t out_len, const char* field, size_t field_len) {
  size_t n = 0;
  if (out_len == 0) return 0;
  if (field) {
    while (n < field_len && n + 1 < out_len && field[n] != '\0') {
      out[n] = field[n];
      ++n;
    }
  }
  out[n] = '\0';
  return n;
}

// Writes text into a fixed field of a shared record: truncated to the field, NUL-terminated, and
// the rest of the field cleared so no stale bytes of an earlier, longer text remain.
inline void set_field_text(char* field, size_t field_len, const char* text) {
  size_t n = 0;
  if (field_len == 0) return;
  if (text) {
    while (n + 1 < field_len && text[n] != '\0') {
      field[n] = text[n];
      ++n;
    }
  }
  for (size_t i = n; i < field_len; ++i) field[i] = '\0';
}

template <size_t N>
inline size_t copy_field_text(char (&out)[N], const char* field, size_t field_len) {
  return copy_field_text(out, N, field, field_len);
}
template <size_t N>
inline void set_field_text(char (&field)[N], const char* text) {
  set_field_text(field, N, text);
}

}  // namespace ks
