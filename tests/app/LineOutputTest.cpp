// Monitor lines to a reader that stalls or leaves: never a wait, whole lines only, and the end
// of the output noticed.
#include "app/run/LineOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/TempDir.h"

namespace {

struct Channel {
    const char* name;
    // Fills `ends` with a read end and a write end; false on failure.
    bool (*open)(int ends[2]);
};

bool smallPipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    // One page, so that it fills after a few lines.
    return fcntl(ends[1], F_SETPIPE_SZ, 4096) >= 0;
}

bool streamSocketPair(int ends[2]) {
    return socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0;
}

std::string readAll(int descriptor) {
    fcntl(descriptor, F_SETFL, O_NONBLOCK);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(descriptor, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

TEST(LineOutputTest, AReaderThatStallsCostsLinesNotTimeAndOneThatLeavesEndsTheOutput) {
    std::signal(SIGPIPE, SIG_IGN);
    for (const Channel& channel :
         {Channel{"pipe", smallPipe}, Channel{"socket", streamSocketPair}}) {
        SCOPED_TRACE(channel.name);
        int ends[2];
        ASSERT_TRUE(channel.open(ends));
        const std::string line(99, 'x');
        uint64_t accepted = 0;
        {
            LineOutput output(ends[1]);
            constexpr int lines = 20000;  // 2 MB: more than any socket buffer holds
            for (int index = 0; index < lines; ++index) {
                accepted += output.writeLine(line + std::to_string(index % 10)) ? 1 : 0;
            }
            EXPECT_GT(output.droppedLines(), 0u);
            EXPECT_EQ(accepted + output.droppedLines(), static_cast<uint64_t>(lines));
            EXPECT_FALSE(output.closed());

            // What arrived is whole lines, except at most the start of one still held back.
            const std::string arrived = readAll(ends[0]);
            size_t complete = 0;
            for (size_t at = 0; at + 101 <= arrived.size(); at += 101) {
                ASSERT_EQ(arrived.substr(at, 99), line) << at;
                ASSERT_EQ(arrived[at + 100], '\n') << at;
                ++complete;
            }
            EXPECT_GE(complete + 1, accepted);
            EXPECT_LE(complete, accepted);

            // Room again: the held-back rest goes first, then the new line.
            EXPECT_TRUE(output.writeLine("after"));
            const std::string next = readAll(ends[0]);
            EXPECT_TRUE(next.ends_with("\nafter\n") || next == "after\n") << next.size();

            close(ends[0]);
            EXPECT_FALSE(output.writeLine("gone"));
            EXPECT_TRUE(output.closed());
            EXPECT_EQ(output.closedReason(), std::strerror(EPIPE));
            const uint64_t dropped = output.droppedLines();
            EXPECT_FALSE(output.writeLine("still gone"));
            EXPECT_EQ(output.droppedLines(), dropped + 1);
        }
        // The caller's descriptor stays open and blocking.
        EXPECT_EQ(fcntl(ends[1], F_GETFL) & O_NONBLOCK, 0);
        close(ends[1]);
    }
}

TEST(LineOutputTest, AFileGetsEveryLine) {
    TempDir folder;
    const std::string path = (folder.path() / "monitor.log").string();
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    {
        LineOutput output(file);
        for (int index = 0; index < 1000; ++index) {
            EXPECT_TRUE(output.writeLine("line " + std::to_string(index)));
        }
        EXPECT_EQ(output.droppedLines(), 0u);
    }
    close(file);
    std::FILE* stream = std::fopen(path.c_str(), "r");
    ASSERT_NE(stream, nullptr);
    char text[32];
    int count = 0;
    while (std::fgets(text, sizeof text, stream)) {
        EXPECT_EQ(std::string(text), "line " + std::to_string(count++) + "\n");
    }
    std::fclose(stream);
    EXPECT_EQ(count, 1000);
}

}  // namespace
