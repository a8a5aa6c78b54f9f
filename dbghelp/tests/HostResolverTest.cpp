#include <winsock2.h>

#include "HostResolver.h"

#include <atomic>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ScopedHandle.h"

namespace
{

// A dotted quad is taken as it is; any other name goes to the lookup.
TEST(HostResolverTest, GivesTheLookupsAddressOrErrorAndTakesDottedQuadsWithoutOne)
{
    int lookups = 0;
    CHostResolver resolver(
        [&](const std::string& host, unsigned long& address)
        {
            ++lookups;
            if (host != "symbols.example")
                return static_cast<int>(WSAHOST_NOT_FOUND);
            address = htonl(0x0A000001);
            return 0;
        });
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("127.0.0.1", 1000, address, error));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
    EXPECT_EQ(0, lookups);
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("symbols.example", 1000, address, error));
    EXPECT_EQ(htonl(0x0A000001), address);
    EXPECT_EQ(CHostResolver::Outcome::Failed, resolver.Resolve("other.example", 1000, address, error));
    EXPECT_EQ(WSAHOST_NOT_FOUND, error);
}

TEST(HostResolverTest, FindsLocalhostThroughThePlatform)
{
    CHostResolver resolver;
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("localhost", 5000, address, error)) << error;
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
}

// The lookup is still running when the caller gives up; it ends once the
// test lets it, long after the caller has gone on. It runs on past the test,
// so it touches only what it owns: its own copy of the release event.
TEST(HostResolverTest, LookupThatOutlastsTheWaitTimesOut)
{
    CScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE lookupsCopy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), release.Get(), GetCurrentProcess(), &lookupsCopy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    auto returned = std::make_shared<std::atomic<bool>>(false);
    CHostResolver resolver(
        [lookupsCopy, returned](const std::string&, unsigned long&)
        {
            WaitForSingleObject(lookupsCopy, 30000);
            CloseHandle(lookupsCopy);
            *returned = true;
            return static_cast<int>(WSAHOST_NOT_FOUND);
        });
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::TimedOut, resolver.Resolve("slow.example", 100, address, error));
    EXPECT_FALSE(*returned);
    SetEvent(release.Get());
}

} // namespace
