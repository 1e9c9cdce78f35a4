#include <gtest/gtest.h>
#include <lo/lo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "osc/QVOSCDecoder.h"
#include "tests/osc/OscTestSupport.h"

// liblo is an independent OSC implementation: it must read what we write, and we what it writes.

namespace {

struct LibloMessageFree {
    void operator()(lo_message message) const { lo_message_free(message); }
};
using LibloMessage = std::unique_ptr<std::remove_pointer_t<lo_message>, LibloMessageFree>;

struct LibloBundleFree {
    void operator()(lo_bundle bundle) const { lo_bundle_free_recursive(bundle); }
};
using LibloBundle = std::unique_ptr<std::remove_pointer_t<lo_bundle>, LibloBundleFree>;

// A copy of memory that liblo allocated for a serialised packet, which is then freed.
QVOSCData adopt(void* data, size_t size) {
    auto* begin = static_cast<const uint8_t*>(data);
    QVOSCData copy(begin, begin + size);
    std::free(data);
    return copy;
}

QVOSCData serialised(lo_message message, const char* path) {
    size_t size = 0;
    void* data = lo_message_serialise(message, path, nullptr, &size);
    return adopt(data, size);
}

QVOSCData serialised(lo_bundle bundle) {
    size_t size = 0;
    void* data = lo_bundle_serialise(bundle, nullptr, &size);
    return adopt(data, size);
}

std::string hex(const uint8_t* bytes, size_t size) {
    std::string text;
    char digits[3];
    for (size_t k = 0; k < size; ++k) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[k]);
        text += digits;
    }
    return text;
}

// liblo's argument pointers are only 4-byte aligned, less than lo_arg asks for, so values are
// copied out rather than read through the union.
template <typename Value>
Value libloValue(const lo_arg* argument) {
    Value value;
    std::memcpy(&value, argument, sizeof value);
    return value;
}

// One line per message as liblo sees it: path, types, values.
std::string libloMessageText(const char* path, const char* types, lo_arg** argv, int argc) {
    std::string text = std::string(path) + " " + types;
    char value[64];
    for (int k = 0; k < argc; ++k) {
        switch (types[k]) {
            case LO_INT32:
                std::snprintf(value, sizeof value, " %d", libloValue<int32_t>(argv[k]));
                text += value;
                break;
            case LO_FLOAT:
                std::snprintf(value, sizeof value, " %.9g",
                              static_cast<double>(libloValue<float>(argv[k])));
                text += value;
                break;
            case LO_STRING:
                text += " \"" + std::string(reinterpret_cast<const char*>(argv[k])) + "\"";
                break;
            case LO_BLOB: {
                auto blob = reinterpret_cast<lo_blob>(argv[k]);
                text += " <" +
                        hex(static_cast<const uint8_t*>(lo_blob_dataptr(blob)),
                            lo_blob_datasize(blob)) +
                        ">";
                break;
            }
            default:
                text += " ?";
        }
    }
    return text;
}

// A liblo server used only to dispatch raw datagrams, recording what its handlers see.
class LibloDispatcher {
  public:
    LibloDispatcher() : server_(lo_server_new(nullptr, nullptr)) {
        lo_server_add_method(server_, nullptr, nullptr, onMessage, this);
        lo_server_add_bundle_handlers(server_, onBundleStart, onBundleEnd, this);
    }
    ~LibloDispatcher() { lo_server_free(server_); }
    LibloDispatcher(const LibloDispatcher&) = delete;
    LibloDispatcher& operator=(const LibloDispatcher&) = delete;

    bool ready() const { return server_ != nullptr; }

    std::vector<std::string> dispatch(QVOSCData data) {
        events_.clear();
        int result = lo_server_dispatch_data(server_, data.data(), data.size());
        if (result < 0) {
            events_.push_back("error " + std::to_string(result));
        }
        return events_;
    }

  private:
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* self) {
        static_cast<LibloDispatcher*>(self)->events_.push_back(
            libloMessageText(path, types, argv, argc));
        return 0;
    }
    static int onBundleStart(lo_timetag time, void* self) {
        char text[48];
        std::snprintf(text, sizeof text, "bundle %08x.%08x", time.sec, time.frac);
        static_cast<LibloDispatcher*>(self)->events_.push_back(text);
        return 0;
    }
    static int onBundleEnd(void* self) {
        static_cast<LibloDispatcher*>(self)->events_.push_back("end");
        return 0;
    }

    lo_server server_;
    std::vector<std::string> events_;
};

const QVOSCData kBlob = osctest::bytes("01 02 03 FF 00");

std::shared_ptr<QVOSCMessage> ourMixedMessage() {
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/zandorex/mix"));
    message->attachArguments({QVOSCArgument::argumentWithInt(-7),
                              QVOSCArgument::argumentWithFloat(0.25f),
                              QVOSCArgument::argumentWithString("hello"),
                              QVOSCArgument::argumentWithDataBlob(QVOSCBytes(kBlob))});
    return message;
}

LibloMessage libloMixedMessage() {
    LibloMessage message(lo_message_new());
    lo_message_add_int32(message.get(), -7);
    lo_message_add_float(message.get(), 0.25f);
    lo_message_add_string(message.get(), "hello");
    lo_blob blob = lo_blob_new(static_cast<int32_t>(kBlob.size()), kBlob.data());
    lo_message_add_blob(message.get(), blob);
    lo_blob_free(blob);
    return message;
}

LibloMessage libloLevelMessage() {
    LibloMessage message(lo_message_new());
    lo_message_add_float(message.get(), 10.0f);
    return message;
}

const char* kMixedText = "/zandorex/mix ifsb -7 0.25 \"hello\" <010203ff00>";
const char* kLevelText = "/zandorex/level f 10";

}  // namespace

TEST(LibloInterop, LibloReadsOurMessages) {
    for (const auto& [message, expected] : {std::pair{ourMixedMessage(), kMixedText},
                                            std::pair{osctest::levelMessage(), kLevelText}}) {
        QVOSCData data = message->packetizedData();
        int result = -1;
        LibloMessage decoded(lo_message_deserialise(data.data(), data.size(), &result));
        ASSERT_EQ(result, 0);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(libloMessageText(lo_get_path(data.data(), static_cast<ssize_t>(data.size())),
                                   lo_message_get_types(decoded.get()),
                                   lo_message_get_argv(decoded.get()),
                                   lo_message_get_argc(decoded.get())),
                  expected);
    }
}

TEST(LibloInterop, WeReadLibloMessagesAndWriteTheSameBytes) {
    QVOSCData data = serialised(libloMixedMessage().get(), "/zandorex/mix");
    auto decoded = std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(data));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->stringRepresentation(),
              "MESSAGE:\naddress:/zandorex/mix\n types:,ifsb\ni { -7 }\nf { 0.250000 }\ns { hello "
              "}\nb { <010203ff00> }");
    EXPECT_EQ(decoded->packetizedData(), data);
    EXPECT_EQ(ourMixedMessage()->packetizedData(), data);

    LibloMessage empty(lo_message_new());
    QVOSCData emptyData = serialised(empty.get(), "/x");
    EXPECT_EQ(emptyData, osctest::bytes("2F 78 00 00 2C 00 00 00"));
    EXPECT_NE(QVOSCDecoder::decodeData(emptyData), nullptr);
}

TEST(LibloInterop, LibloDispatchesOurNestedBundles) {
    LibloDispatcher liblo;
    ASSERT_TRUE(liblo.ready());

    auto inner = QVOSCBundle::bundleWithTimestamp(distantPast);
    inner->attachObject(ourMixedMessage());
    auto outer = QVOSCBundle::bundleWithTimestamp(osctest::utc(osctest::k2001, 500));
    outer->attachObjects({osctest::levelMessage(), inner, osctest::levelMessage()});

    EXPECT_EQ(liblo.dispatch(outer->packetizedData()),
              (std::vector<std::string>{"bundle bdfa4700.80000000", kLevelText,
                                        "bundle 00000000.00000001", kMixedText, "end", kLevelText,
                                        "end"}));
    EXPECT_EQ(liblo.dispatch(osctest::levelMessage()->packetizedData()),
              std::vector<std::string>{kLevelText});
}

TEST(LibloInterop, WeReadLibloNestedBundlesAndWriteTheSameBytes) {
    // Whole seconds: the fraction of a time tag does not survive decoding.
    LibloBundle outer(lo_bundle_new(lo_timetag{0xBDFA4700u, 0}));
    LibloBundle inner(lo_bundle_new(LO_TT_IMMEDIATE));
    LibloMessage mixed = libloMixedMessage();
    LibloMessage level = libloLevelMessage();
    ASSERT_EQ(lo_bundle_add_message(inner.get(), "/zandorex/mix", mixed.release()), 0);
    ASSERT_EQ(lo_bundle_add_message(outer.get(), "/zandorex/level", level.release()), 0);
    ASSERT_EQ(lo_bundle_add_bundle(outer.get(), inner.release()), 0);

    QVOSCData data = serialised(outer.get());
    auto decoded = std::dynamic_pointer_cast<QVOSCBundle>(QVOSCDecoder::decodeData(data));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->timeStamp(), osctest::utc(osctest::k2001));
    ASSERT_EQ(decoded->attachedObjects().size(), 2u);
    auto nested = std::dynamic_pointer_cast<QVOSCBundle>(decoded->attachedObjects()[1]);
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->timeStamp(), distantPast);
    EXPECT_EQ(decoded->packetizedData(), data);

    auto ours = QVOSCBundle::bundleWithTimestamp(osctest::utc(osctest::k2001));
    auto ourInner = QVOSCBundle::bundleWithTimestamp(distantPast);
    ourInner->attachObject(ourMixedMessage());
    ours->attachObjects({osctest::levelMessage(), ourInner});
    EXPECT_EQ(ours->packetizedData(), data);
}
