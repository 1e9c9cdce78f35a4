// The page's load served with libwebsockets on its own event loop: the page on GET /, its state
// on the live WebSocket of the same port. Prints "PORT LIBRARY" on its first line, then serves
// on 127.0.0.1 until it is ended. For bench/web_server_libraries.sh.
#include <libwebsockets.h>
#include <strings.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/web_server_load.h"

namespace {

// The page goes out in slices of this size, each when the socket takes more.
constexpr std::size_t pageSlice = 4096;

// A message with the room in front that lws writes its frame header into.
struct Framed {
    explicit Framed(const std::string& body) : bytes(LWS_PRE + body.size()), size(body.size()) {
        std::memcpy(bytes.data() + LWS_PRE, body.data(), body.size());
    }
    unsigned char* body() { return bytes.data() + LWS_PRE; }
    std::vector<unsigned char> bytes;
    std::size_t size;
};

struct Server {
    Framed page{web_load::pageBody()};
    Framed state{web_load::stateMessage()};
    std::vector<lws*> pages;
};

// What one connection has sent of the page so far.
struct Session {
    std::size_t pageSent;
};

Server& serverOf(lws* wsi) {
    return *static_cast<Server*>(lws_context_user(lws_get_context(wsi)));
}

std::string header(lws* wsi, lws_token_indexes token) {
    char value[256];
    return lws_hdr_copy(wsi, value, sizeof value, token) > 0 ? std::string(value) : std::string();
}

// Stands in for the program's tick on its main thread: every 50 ms it hands a new state over and
// wakes the server's loop, the way lws takes work from another thread.
void tickEvery50Ms(const std::stop_token& stop, lws_context* context) {
    auto next = std::chrono::steady_clock::now();
    while (!stop.stop_requested()) {
        next += web_load::interval;
        std::this_thread::sleep_until(next);
        lws_cancel_service(context);
    }
}

int startPage(lws* wsi, Session& session, const char* path) {
    if (std::strcmp(path, "/") != 0) {
        lws_return_http_status(wsi, HTTP_STATUS_NOT_FOUND, nullptr);
        return lws_http_transaction_completed(wsi) != 0 ? -1 : 0;
    }
    unsigned char headers[LWS_PRE + 512];
    unsigned char* start = headers + LWS_PRE;
    unsigned char* at = start;
    if (lws_add_http_common_headers(wsi, HTTP_STATUS_OK, "text/html; charset=utf-8",
                                    serverOf(wsi).page.size, &at, headers + sizeof headers) != 0 ||
        lws_finalize_write_http_header(wsi, start, &at, headers + sizeof headers) != 0) {
        return -1;
    }
    session.pageSent = 0;
    lws_callback_on_writable(wsi);
    return 0;
}

int sendPageSlice(lws* wsi, Session& session) {
    Framed& page = serverOf(wsi).page;
    const std::size_t size = std::min(pageSlice, page.size - session.pageSent);
    const bool last = session.pageSent + size == page.size;
    if (lws_write(wsi, page.body() + session.pageSent, size,
                  last ? LWS_WRITE_HTTP_FINAL : LWS_WRITE_HTTP) < static_cast<int>(size)) {
        return -1;
    }
    session.pageSent += size;
    if (last) {
        return lws_http_transaction_completed(wsi) != 0 ? -1 : 0;
    }
    lws_callback_on_writable(wsi);
    return 0;
}

int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t) {
    // Only a connection's own callbacks carry its session; the loop's own carry none.
    auto* session = static_cast<Session*>(user);
    switch (reason) {
        case LWS_CALLBACK_HTTP:
            return startPage(wsi, *session, static_cast<const char*>(in));
        case LWS_CALLBACK_HTTP_WRITEABLE:
            return sendPageSlice(wsi, *session);
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            // Taken only on the live path from the page's own origin, as the program does.
            return header(wsi, WSI_TOKEN_GET_URI) == web_load::livePath &&
                           strcasecmp(header(wsi, WSI_TOKEN_ORIGIN).c_str(),
                                      ("http://" + header(wsi, WSI_TOKEN_HOST)).c_str()) == 0
                       ? 0
                       : -1;
        case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
            // A new state: every page is sent it when its socket takes more.
            for (lws* page : serverOf(wsi).pages) {
                lws_callback_on_writable(page);
            }
            return 0;
        case LWS_CALLBACK_ESTABLISHED:
            serverOf(wsi).pages.push_back(wsi);
            return 0;
        case LWS_CALLBACK_CLOSED:
            std::erase(serverOf(wsi).pages, wsi);
            return 0;
        case LWS_CALLBACK_SERVER_WRITEABLE: {
            // lws asks once however many ticks passed, so a slow page gets the newest state.
            Framed& state = serverOf(wsi).state;
            return lws_write(wsi, state.body(), state.size, LWS_WRITE_BINARY) <
                           static_cast<int>(state.size)
                       ? -1
                       : 0;
        }
        default:
            return lws_callback_http_dummy(wsi, reason, user, in, 0);
    }
}

}  // namespace

int main() {
    // Goes with the bench that started it, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    lws_set_log_level(LLL_ERR, nullptr);
    const lws_protocols protocols[] = {
        {"live", callback, sizeof(Session), 0, 0, nullptr, 0},
        {nullptr, nullptr, 0, 0, 0, nullptr, 0},
    };
    Server server;
    lws_context_creation_info info{};
    info.port = 0;
    info.iface = "127.0.0.1";
    info.protocols = protocols;
    info.options = LWS_SERVER_OPTION_DISABLE_IPV6;
    info.gid = -1;
    info.uid = -1;
    info.user = &server;
    lws_context* context = lws_create_context(&info);
    if (context == nullptr) {
        std::fprintf(stderr, "cannot start libwebsockets\n");
        return 1;
    }
    // The version without the empty build tag Debian's package leaves after it ("4.1.6-").
    const std::string version = lws_get_library_version();
    std::printf("%d libwebsockets %s\n",
                lws_get_vhost_listen_port(lws_get_vhost_by_name(context, "default")),
                version.substr(0, version.find_first_of("- ")).c_str());
    std::fflush(stdout);
    const std::jthread tick(tickEvery50Ms, context);
    while (lws_service(context, 0) >= 0) {
    }
    lws_context_destroy(context);
    return 0;
}
