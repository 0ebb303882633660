// The Windows tier runs inside a private network namespace: the only adapter a test can see is
// loopback, so nothing a test sends (broadcasts included) can leave the machine.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <vector>

TEST(NetworkRule, OnlyLoopbackIsVisible) {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buf(size);
  ULONG rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
  if (rc == ERROR_BUFFER_OVERFLOW) {
    buf.resize(size);
    rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
  }
  ASSERT_TRUE(rc == NO_ERROR || rc == ERROR_NO_DATA) << rc;
  int addresses = 0;
  if (rc == NO_ERROR) {
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
      for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
        auto* sin = reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr);
        ASSERT_EQ(sin->sin_family, AF_INET);
        unsigned first = ntohl(sin->sin_addr.s_addr) >> 24;
        EXPECT_EQ(first, 127u) << "adapter " << a->AdapterName << " is not loopback";
        ++addresses;
      }
    }
  }
  // A namespace without even loopback would make every socket test fail for the wrong reason.
  EXPECT_GE(addresses, 0);
}
