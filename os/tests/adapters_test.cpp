// The adapter list, in the tests' private network namespace, and its test seam.
#include "os/adapters.h"

#include <gtest/gtest.h>

namespace ks {
namespace {

TEST(Adapters, TheTestNamespaceShowsOnlyLoopback) {
  auto list = system_ipv4_adapters();
  ASSERT_FALSE(list.empty());
  for (const auto& a : list) {
    EXPECT_EQ(a.address >> 24, 127u) << a.name;
    EXPECT_TRUE(a.loopback) << a.name;
    EXPECT_TRUE(a.up) << a.name;
    EXPECT_EQ(a.prefix_length, 8) << a.name;
  }
}

TEST(Adapters, PrefixMasks) {
  const std::pair<int, uint32_t> cases[] = {{0, 0u},           {1, 0x80000000u},  {8, 0xFF000000u},
                                            {24, 0xFFFFFF00u}, {30, 0xFFFFFFFCu}, {31, 0xFFFFFFFEu},
                                            {32, 0xFFFFFFFFu}, {33, 0u}};
  for (auto [len, mask] : cases) EXPECT_EQ(prefix_to_mask(static_cast<uint8_t>(len)), mask) << len;
}

TEST(Adapters, AnInjectedSourceReplacesTheSystemsUntilCleared) {
  set_adapter_source([] {
    return std::vector<Ipv4Adapter>{{0xC6336401u, 24, true, false, "test"}};
  });
  auto list = list_ipv4_adapters();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].address, 0xC6336401u);
  set_adapter_source(nullptr);
  list = list_ipv4_adapters();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].address >> 24, 127u);
}

}  // namespace
}  // namespace ks
