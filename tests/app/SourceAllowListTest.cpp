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
        // Below 96 bits a mapped rule stays IPv6 and meets no IPv4 source, mapped or not.
        {"::ffff:0:0/80", {"::1"}, {"10.0.0.9", "::ffff:10.0.0.9", "2001:db8::1"}},
        {"10.0.0.1/008", {"10.255.0.1"}, {"11.0.0.1"}},
    };
    for (const auto& [text, allowed, refused] : cases) {
        SCOPED_TRACE(text);
        std::string error;
        const auto rules = parseSourceList(text, error);
        ASSERT_TRUE(rules) << error;
        const SourceAllowList list(*rules);
        for (const std::string& source : allowed) {
            EXPECT_TRUE(list.allows(*numericEndpoint(source, 9000))) << source;
        }
        for (const std::string& source : refused) {
            EXPECT_FALSE(list.allows(*numericEndpoint(source, 9000))) << source;
        }
    }
    std::string error;
    const SourceAllowList loopback(*parseSourceList("127.0.0.1", error));
    EXPECT_FALSE(loopback.allows(NetworkEndpoint{}));
}

TEST(SourceAllowListTest, BadListsAreRefusedWithTheEntryQuoted) {
    const std::string notAddress = "not a numeric IPv4 or IPv6 address (no names, no %zone)";
    const std::string v4Length = "the prefix length must be 0 to 32 in decimal digits";
    const std::string v6Length = "the prefix length must be 0 to 128 in decimal digits";
    const std::string emptyEntry = "empty entry: two commas in a row, or one at an end";
    const struct {
        std::string list;
        std::string error;
    } cases[] = {
        {"10.0.0.0/33", "bad entry '10.0.0.0/33': " + v4Length},
        {"::1/129", "bad entry '::1/129': " + v6Length},
        {"10.0.0.1/", "bad entry '10.0.0.1/': " + v4Length},
        {"10.0.0.1/+8", "bad entry '10.0.0.1/+8': " + v4Length},
        // A sign once slipped through and let every source in.
        {"10.0.0.1/-1", "bad entry '10.0.0.1/-1': " + v4Length},
        {"10.0.0.1/-0", "bad entry '10.0.0.1/-0': " + v4Length},
        {"10.0.0.1/ 8", "bad entry '10.0.0.1/ 8': " + v4Length},
        {"10.0.0.1/0008", "bad entry '10.0.0.1/0008': " + v4Length},
        {"10.0.0.1/8x", "bad entry '10.0.0.1/8x': " + v4Length},
        {"localhost", "bad entry 'localhost': " + notAddress},
        {"fe80::1%eth0", "bad entry 'fe80::1%eth0': " + notAddress},
        // inet_pton would stop at the zero byte and read the address before it.
        {std::string("10.0.0.1\0/0", 11), "bad entry '10.0.0.1\\x00/0': " + notAddress},
        {"10.0.0.1,,::1", emptyEntry},
        {"10.0.0.1,", emptyEntry},
        {" , ", emptyEntry},
        {"", "no entries"},
        {"\x1b[2J" + std::string(100, 'a'),
         "bad entry '\\x1b[2J" + std::string(57, 'a') + "...': " + notAddress},
        {[] {
             std::string many = "10.0.0.1";
             for (size_t index = 1; index <= maximumSourceRules; ++index) {
                 many += ",10.0.0.1";
             }
             return many;
         }(),
         "more than 64 entries"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(parseSourceList(text, error)) << text;
        EXPECT_EQ(error, message);
    }
}

}  // namespace
