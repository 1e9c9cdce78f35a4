// remoteControlFrom: which sources the list admits, and the errors for lists it cannot read.
#include "app/remote/SourceAllowList.h"

#include <gtest/gtest.h>

#include "transport/NetworkEndpointText.h"

namespace {

TEST(SourceAllowListTest, MatchesAddressesAndPrefixesOfBothFamilies) {
    const struct {
        std::string list;
        std::vector<std::string> allowed;
        std::vector<std::string> refused;
    } cases[] = {
        {"192.168.1.20,10.0.0.0/24,::1",
         {"192.168.1.20", "10.0.0.0", "10.0.0.255", "::1", "::ffff:192.168.1.20",
          "::ffff:10.0.0.7"},
         {"192.168.1.21", "10.0.1.0", "127.0.0.1", "::2", "::ffff:192.168.1.21"}},
        {" 172.16.0.0/12 , fd00::/8 ",
         {"172.31.255.255", "fd12:3456::1"},
         {"172.32.0.0", "fe80::1", "::ffff:172.32.0.1"}},
        // Prefixes that do not end on a byte, host bits set in the rule.
        {"10.1.2.3/23", {"10.1.2.200", "10.1.3.1"}, {"10.1.4.1", "10.1.1.255"}},
        {"2001:db8::/33", {"2001:db8:7fff::1"}, {"2001:db8:8000::1"}},
        {"0.0.0.0/0", {"1.2.3.4", "::ffff:8.8.8.8"}, {"::1"}},
        {"::/0", {"::1", "2001:db8::1"}, {"127.0.0.1", "::ffff:127.0.0.1"}},
        // A mapped rule is its IPv4 rule.
        {"::ffff:10.0.0.0/120", {"10.0.0.9", "::ffff:10.0.0.9"}, {"10.0.1.9"}},
        {"", {}, {"127.0.0.1", "::1"}},
    };
    for (const auto& [text, allowed, refused] : cases) {
        SCOPED_TRACE(text);
        std::string error;
        const auto list = SourceAllowList::parse(text, error);
        ASSERT_TRUE(list) << error;
        for (const std::string& source : allowed) {
            EXPECT_TRUE(list->allows(*numericEndpoint(source, 9000))) << source;
        }
        for (const std::string& source : refused) {
            EXPECT_FALSE(list->allows(*numericEndpoint(source, 9000))) << source;
        }
    }
    std::string error;
    EXPECT_FALSE(SourceAllowList::parse("127.0.0.1", error)->allows(NetworkEndpoint{}));
}

TEST(SourceAllowListTest, BadListsAreRefusedWithTheEntryQuoted) {
    const std::string expected =
        "expected IPv4 or IPv6 addresses, each with an optional /prefix length (up to 32 for "
        "IPv4, 128 for IPv6), separated by commas";
    const struct {
        std::string list;
        std::string error;
    } cases[] = {
        {"10.0.0.0/33", "bad entry '10.0.0.0/33'; " + expected},
        {"::1/129", "bad entry '::1/129'; " + expected},
        {"10.0.0.1/", "bad entry '10.0.0.1/'; " + expected},
        {"10.0.0.1/+8", "bad entry '10.0.0.1/+8'; " + expected},
        {"10.0.0.1/0008", "bad entry '10.0.0.1/0008'; " + expected},
        {"10.0.0.1/8x", "bad entry '10.0.0.1/8x'; " + expected},
        {"localhost", "bad entry 'localhost'; " + expected},
        {"10.0.0", "bad entry '10.0.0'; " + expected},
        {"fe80::1%eth0", "bad entry 'fe80::1%eth0'; " + expected},
        {"10.0.0.1,,::1", "empty entry; " + expected},
        {"10.0.0.1,", "empty entry; " + expected},
        {"\x1b[2J" + std::string(100, 'a'),
         "bad entry '\\x1b[2J" + std::string(57, 'a') + "...'; " + expected},
        {[] {
             std::string many = "10.0.0.1";
             for (size_t index = 1; index <= SourceAllowList::maximumEntries; ++index) {
                 many += ",10.0.0.1";
             }
             return many;
         }(),
         "more than 64 entries"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(SourceAllowList::parse(text, error)) << text;
        EXPECT_EQ(error, message);
    }
}

}  // namespace
