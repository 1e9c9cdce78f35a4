// The load the program's browser page puts on a page server, shared by the servers that
// bench/web_server_libraries.sh compares and the clients that drive them: one GET of the page,
// then one state message every 50 ms on the page's live WebSocket.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace web_load {

inline constexpr auto interval = std::chrono::milliseconds(50);
inline constexpr const char* livePath = "/live";
// What a page left unread may hold before it is skipped, as the program bounds it.
inline constexpr std::size_t largestBacklog = 64 * 1024;

// A state message of the program's shape and size: the input, three mappings' readings, the
// tempo, the status line and the spectrum's 160 points in whole dB (1028 bytes). The program sends
// the spectrum with every other state only; every state here is the larger kind.
inline std::string stateMessage() {
    std::string message =
        R"({"kind":"state","input":{"device":"Built-in Audio Analog Stereo","level":0.412,)"
        R"("peak":0.734,"clipping":false},"readings":[{"position":0.538,"on":true},)"
        R"({"position":0.127,"on":false},{"position":null,"on":false}],"tempo":{"note":"",)"
        R"("bpm":121.4,"held":false,"tapped":false,"beat":true,"beatsSent":412},)"
        R"("status":"Sending to 127.0.0.1:53000 - 3 mappings - page on 127.0.0.1:8080",)"
        R"("spectrum":[)";
    for (int point = 0; point < 160; ++point) {
        message += std::to_string(-20 - (point * 37) % 70) + (point < 159 ? "," : "]}");
    }
    return message;
}

// The page's three files together are about 17 KB; one body of that size stands for them.
inline std::string pageBody() {
    std::string body = "<!doctype html><title>page</title><script>\n";
    while (body.size() < 17 * 1024) {
        body += "// a line of the page's script, long enough to make up its size\n";
    }
    return body + "</script>\n";
}

}  // namespace web_load
