#include "loader/win/guard.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <stdexcept>

namespace ks {
namespace {

volatile int* volatile g_null = nullptr;

void fault(void*) { *g_null = 1; }
void raise_foreign(void*) { RaiseException(0xE06D7363, 0, 0, nullptr); }
void fine(void* p) { *static_cast<int*>(p) = 7; }
void nested(void* p) {
  uint32_t inner = 0;
  int r = ks_guarded_call(fault, nullptr, &inner);
  static_cast<uint32_t*>(p)[0] = static_cast<uint32_t>(r);
  static_cast<uint32_t*>(p)[1] = inner;
}
void catches_its_own(void* p) {
  try {
    throw std::runtime_error("inside");
  } catch (const std::exception&) {
    *static_cast<int*>(p) = 1;
  }
}

TEST(Guard, ReturnsOneWhenTheBodyReturns) {
  int v = 0;
  uint32_t code = 0;
  EXPECT_EQ(ks_guarded_call(fine, &v, &code), 1);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(code, 0u);
}

TEST(Guard, SwallowsFaultsAndRaisedExceptionsWithTheirCode) {
  struct Case {
    void (*body)(void*);
    uint32_t code;
  } cases[] = {{fault, 0xC0000005u}, {raise_foreign, 0xE06D7363u}};
  for (const Case& c : cases) {
    uint32_t code = 0;
    EXPECT_EQ(ks_guarded_call(c.body, nullptr, &code), 0);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(ks_guarded_call(c.body, nullptr, nullptr), 0);  // no code wanted
  }
  // The thread carries on with further guarded calls.
  int v = 0;
  EXPECT_EQ(ks_guarded_call(fine, &v, nullptr), 1);
}

TEST(Guard, NestedGuardsCatchAtTheInnerOne) {
  uint32_t out[2] = {9, 0};
  uint32_t outer = 0;
  EXPECT_EQ(ks_guarded_call(nested, out, &outer), 1);
  EXPECT_EQ(out[0], 0u);
  EXPECT_EQ(out[1], 0xC0000005u);
  EXPECT_EQ(outer, 0u);
}

TEST(Guard, ACalleeCatchingItsOwnThrowIsLeftAlone) {
  int caught = 0;
  EXPECT_EQ(ks_guarded_call(catches_its_own, &caught, nullptr), 1);
  EXPECT_EQ(caught, 1);
}

TEST(Guard, LambdaForm) {
  int seen = 0;
  auto ok = [&] { seen = 3; };
  EXPECT_TRUE(guarded(ok));
  EXPECT_EQ(seen, 3);
  auto bad = [&] { *g_null = 2; };
  uint32_t code = 0;
  EXPECT_FALSE(guarded(bad, &code));
  EXPECT_EQ(code, 0xC0000005u);
}

TEST(Readable, PageMapChecks) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const size_t page = si.dwPageSize;
  char* mem =
      static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(mem, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(mem + page, page, PAGE_NOACCESS, &old));
  EXPECT_TRUE(is_readable(mem, page));
  EXPECT_FALSE(is_readable(mem, page + 1));
  EXPECT_FALSE(is_readable(mem + page, 1));
  EXPECT_FALSE(is_readable(nullptr, 1));
  // A text running into the locked page has no readable end.
  std::memset(mem, 'a', page);
  EXPECT_EQ(readable_length(mem + page - 10, 4096), -1);
  mem[page - 1] = 0;
  EXPECT_EQ(readable_length(mem + page - 10, 4096), 9);
  EXPECT_EQ(readable_length(mem + page - 10, 9), -1);  // the terminator is past the cap
  EXPECT_EQ(readable_length(mem + page - 10, 10), 9);
  EXPECT_EQ(readable_length(nullptr, 10), -1);
  VirtualFree(mem, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace ks
