#include "app/audio/InputChannels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(InputChannelsTest, ReadsListsAndRangesAndRefusesTheRest) {
    struct Case {
        std::string text;
        std::vector<unsigned> channels;
        bool refused;
    };
    const Case cases[] = {
        {"", {}, false},
        {"   ", {}, false},
        {"1", {1}, false},
        {"2", {2}, false},
        {"1,2", {1, 2}, false},
        {"3-4", {3, 4}, false},
        {" 2 , 1 ", {1, 2}, false},
        {"1,3-4,3", {1, 3, 4}, false},
        {"4-4", {4}, false},
        {"32", {32}, false},
        {"0", {}, true},
        {"33", {}, true},
        {"100", {}, true},
        {"4-3", {}, true},
        {"1,", {}, true},
        {",1", {}, true},
        {"1-", {}, true},
        {"1-2-3", {}, true},
        {"+1", {}, true},
        {"1.0", {}, true},
        {"left", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        const ParsedInputChannels parsed = parseInputChannels(c.text);
        EXPECT_EQ(parsed.channels, c.channels);
        EXPECT_EQ(!parsed.error.empty(), c.refused) << parsed.error;
    }
}

TEST(InputChannelsTest, TheRefusalNamesTheKeyAndShowsTheTextSafely) {
    EXPECT_EQ(parseInputChannels("4-3").error,
              "bad value '4-3' for inputChannels: expected channel numbers from 1 to 32, listed "
              "(1,2) or as a range (3-4); empty: every channel");
    const std::string hostile = std::string("1\n\x1b[2J") + std::string(60, '9');
    const std::string error = parseInputChannels(hostile).error;
    EXPECT_EQ(error.rfind("bad value '1\\x0a\\x1b[2J9999", 0), 0u) << error;
    EXPECT_NE(error.find("9...' for inputChannels"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
