#include "external/sender_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console_output.h"
#include "platform/library.h"
#include "support/tcp_listener.h"
#include "ts/packet_writer.h"

namespace qv {
namespace {

using RecordedCallsFunction = const char* (*)();
using ResetRecorderFunction = void (*)(int32_t);

TEST(SenderPath, SplitsTargetAndLibraryAtTheFirstBackslash)
{
    struct Case {
        const char* path;
        bool ok;
        const char* target;
        const char* library;
    };
    const Case cases[] = {
        {"\\\\.\\sendtstcp\\127.0.0.1:1234", true, "127.0.0.1:1234", ""},
        {"\\\\.\\sendtstcp\\127.0.0.1:1234\\/opt/qv/libSendTSTCP.so", true, "127.0.0.1:1234",
         "/opt/qv/libSendTSTCP.so"},
        {"\\\\.\\sendtstcp\\h:1\\C:\\tools\\SendTSTCP.dll", true, "h:1",
         "C:\\tools\\SendTSTCP.dll"},
        {"\\\\.\\sendtstcp\\", true, "", ""},
        {"\\\\.\\pipe\\out", false, "", ""},
        {"out.ts", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string target;
        std::string library;
        EXPECT_EQ(split_sender_path(c.path, target, library), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(target, c.target) << c.path;
            EXPECT_EQ(library, c.library) << c.path;
        }
    }
}

/// Binds the recording double of the sender library; the fixture keeps a reference of its own to
/// the library, so the record survives the binding's unload.
class RecordingSender : public ::testing::Test {
protected:
    void SetUp() override
    {
        console_flags = kConsoleTextOn;
        library_ = platform::load_library(QV_RECORDING_SENDER);
        ASSERT_NE(library_, nullptr) << QV_RECORDING_SENDER;
        recorded_ = reinterpret_cast<RecordedCallsFunction>(
            platform::find_symbol(library_, "RecordedCalls"));
        reset_ = reinterpret_cast<ResetRecorderFunction>(
            platform::find_symbol(library_, "ResetRecorder"));
        ASSERT_TRUE(recorded_ != nullptr && reset_ != nullptr);
        reset_(7);
        sender_binding().sender_library_path = QV_RECORDING_SENDER;
    }
    void TearDown() override
    {
        unload_sender_library(-1);
        sender_binding().sender_library_path.clear();
        platform::free_library(library_);
        console_flags = kConsoleTextOn;
    }
    std::string calls() const { return recorded_(); }

    platform::LibraryHandle library_ = nullptr;
    RecordedCallsFunction recorded_ = nullptr;
    ResetRecorderFunction reset_ = nullptr;
};

TEST_F(RecordingSender, OneSenderGetsItsCallsInTheInterfaceOrder)
{
    ::testing::internal::CaptureStdout();
    const int32_t id = open_sender("127.0.0.1:1234");
    ASSERT_EQ(id, 7);
    ASSERT_NE(sender_api(), nullptr);
    PacketWriter writer;
    writer.sender_id = id;
    writer.send_data = sender_api()->add_send_data;
    const std::vector<uint8_t> packets(300 * 188, 0x47);
    EXPECT_EQ(write_packets(writer, packets.data(), packets.size()), 48128u);
    EXPECT_EQ(flush_packets(writer), 300u * 188 - 48128);
    close_sender(id);
    unload_sender_library(-1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "－ SendTSTCP.dll 開始成功 127.0.0.1:1234\n"
              "－ SendTSTCP.dll 終了7\n");
    EXPECT_EQ(calls(),
              "InitializeDLL\n"
              "AddSendAddrDLL 7 127.0.0.1 1234\n"
              "StartSendDLL 7\n"
              "AddSendDataDLL 7 48128\n"
              "AddSendDataDLL 7 8272\n"
              "ClearSendAddrDLL 7\n"
              "StopSendDLL 7\n"
              "UnInitializeDLL 7\n");
    EXPECT_EQ(sender_binding().library, nullptr);
}

TEST_F(RecordingSender, EveryHostPortLineBecomesOneDestination)
{
    struct Case {
        const char* target;
        const char* destinations;  // the AddSendAddrDLL lines
    };
    const Case cases[] = {
        {"a:1\nb:2", "a 1\nb 2\n"},
        {"a:1\r\nb:2\r\n", "a 1\nb 2\n"},      // CR before LF dropped
        {"a:1\rb:2", "a 1\n"},                 // a lone CR is no line end
        {"a:1\n\nb:2\n", "a 1\nb 2\n"},        // empty lines skipped
        {"hostonly", ""},                      // no port part: started without destination
        {":1234\nhost:", ""},                  // empty host, empty port
        {"h:abc", "h 0\n"},                    // not a number: port 0, for the library to refuse
        {"h: 42", "h 42\n"},                   // leading blank, as a decimal reading takes it
        {"h:-5\nh:99999", "h -5\nh 99999\n"},  // out of range: the library refuses them
        {"h:1:2", "h 1\n"},                    // split at the first ':'
        {"ホスト:80", "U+30DBU+30B9U+30C8 80\n"},  // native text → UTF-16
    };
    for (const Case& c : cases) {
        reset_(7);
        ::testing::internal::CaptureStdout();
        const int32_t id = open_sender(c.target);
        (void)::testing::internal::GetCapturedStdout();
        EXPECT_EQ(id, 7) << c.target;
        std::string expected = "InitializeDLL\n";
        for (std::string_view rest = c.destinations; !rest.empty();) {
            const size_t end = rest.find('\n');
            expected += "AddSendAddrDLL 7 " + std::string(rest.substr(0, end)) + "\n";
            rest.remove_prefix(end + 1);
        }
        expected += "StartSendDLL 7\n";
        EXPECT_EQ(calls(), expected) << c.target;
        close_sender(id);
        unload_sender_library(-1);
    }
}

TEST_F(RecordingSender, RefusedOpensSayFailedAndStartNothing)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(open_sender(""), -1);  // empty target: the library is not even loaded
    EXPECT_EQ(sender_binding().library, nullptr);
    reset_(-1);  // the library refuses a sender
    EXPECT_EQ(open_sender("127.0.0.1:1"), -1);
    EXPECT_EQ(calls(), "InitializeDLL\n");
    EXPECT_FALSE(sender_binding().sender_running);
    unload_sender_library(-1);
    reset_(7);
    EXPECT_EQ(open_sender("127.0.0.1:2"), 7);
    EXPECT_EQ(open_sender("127.0.0.1:3"), -1);  // a second open while the library is loaded
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "－ SendTSTCP.dll 開始失敗 \n"
              "－ SendTSTCP.dll 開始失敗 127.0.0.1:1\n"
              "－ SendTSTCP.dll 開始成功 127.0.0.1:2\n"
              "－ SendTSTCP.dll 開始失敗 127.0.0.1:3\n");
    console_flags = kConsoleTextOn | kNoProgress;
    close_sender(7);
}

TEST_F(RecordingSender, NoProgressSilencesBothMessages)
{
    console_flags = kConsoleTextOn | kNoProgress;
    ::testing::internal::CaptureStdout();
    const int32_t id = open_sender("127.0.0.1:1234");
    close_sender(id);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(id, 7);
}

TEST_F(RecordingSender, StopAndUnloadOfNoSenderCallNothing)
{
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(open_sender("127.0.0.1:1234"), 7);
    stop_sender(-1);
    close_sender(-1);
    stop_sender(7);
    stop_sender(7);  // stopped once only
    unload_sender_library(7);
    (void)::testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls(),
              "InitializeDLL\nAddSendAddrDLL 7 127.0.0.1 1234\nStartSendDLL 7\n"
              "ClearSendAddrDLL 7\nStopSendDLL 7\nUnInitializeDLL 7\n");
}

TEST(SenderLibrary, MissingLibraryOrNameSaysFailedAndKeepsNothingLoaded)
{
    console_flags = kConsoleTextOn;
    for (const char* path : {QV_INCOMPLETE_SENDER, "no-such-directory/libSendTSTCP.so"}) {
        sender_binding().sender_library_path = path;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(open_sender("127.0.0.1:1234"), -1) << path;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "－ SendTSTCP.dll 開始失敗 127.0.0.1:1234\n");
        EXPECT_EQ(sender_binding().library, nullptr) << path;
        EXPECT_FALSE(sender_binding().sender_loaded);
        EXPECT_EQ(sender_api(), nullptr);
        unload_sender_library(-1);
    }
    sender_binding().sender_library_path.clear();
}

TEST(SenderLibrary, TwoDestinationsReceiveTheWholeStreamInOrder)
{
    console_flags = kConsoleTextOn | kNoProgress;
    test::TcpListener first;
    test::TcpListener second;
    ASSERT_TRUE(first.listening() && second.listening());
    sender_binding().sender_library_path = QV_SENDER_LIBRARY;
    const std::string target = "127.0.0.1:" + std::to_string(first.port()) +
                               "\r\n127.0.0.1:" + std::to_string(second.port());
    const int32_t id = open_sender(target);
    ASSERT_NE(id, -1);
    PacketWriter writer;
    writer.sender_id = id;
    writer.send_data = sender_api()->add_send_data;
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 20000; ++i) {  // 3.76 MB of numbered packets
        uint8_t packet[188] = {0x47, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                               static_cast<uint8_t>(i)};
        stream.insert(stream.end(), packet, packet + sizeof packet);
        (void)write_packets(writer, packet, sizeof packet);
    }
    (void)flush_packets(writer);
    close_sender(id);  // stopping sends what is queued first
    unload_sender_library(-1);
    sender_binding().sender_library_path.clear();
    console_flags = kConsoleTextOn;
    ASSERT_TRUE(first.wait_for_ended(1, 5000));
    ASSERT_TRUE(second.wait_for_ended(1, 5000));
    EXPECT_TRUE(first.received() == stream);
    EXPECT_TRUE(second.received() == stream);
    EXPECT_EQ(first.connections(), 1);
}

}  // namespace
}  // namespace qv
