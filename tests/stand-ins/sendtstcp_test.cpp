// The stand-in TCP sender library through its eight entry points, against listeners on the
// loopback address.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "external/sendtstcp_api.h"
#include "platform/library.h"
#include "platform/thread.h"
#include "support/deadline.h"
#include "support/exported_names.h"
#include "support/run_program.h"
#include "support/tcp_listener.h"
#include "support/test_data.h"

namespace qv {
namespace {

constexpr uint32_t kBlockSize = 48128;

/// Block `index` of a numbered stream: every byte depends on the block and its place.
std::vector<uint8_t> numbered_block(uint32_t index, uint32_t size = kBlockSize)
{
    std::vector<uint8_t> block(size);
    for (uint32_t i = 0; i < size; ++i) {
        block[i] = static_cast<uint8_t>(index * 131 + i / 7);
    }
    block[0] = static_cast<uint8_t>(index);
    block[1] = static_cast<uint8_t>(index >> 8);
    return block;
}

/// The stand-in library loaded and bound, as the program binds it.
class StandInSender : public ::testing::Test {
protected:
    void SetUp() override
    {
        library_ = platform::load_library(QV_SENDER_LIBRARY);
        ASSERT_NE(library_, nullptr) << QV_SENDER_LIBRARY;
        bind(api_.initialize, kSendTsTcpEntryNames[0]);
        bind(api_.uninitialize, kSendTsTcpEntryNames[1]);
        bind(api_.add_send_address, kSendTsTcpEntryNames[2]);
        bind(api_.clear_send_address, kSendTsTcpEntryNames[3]);
        bind(api_.start_send, kSendTsTcpEntryNames[4]);
        bind(api_.stop_send, kSendTsTcpEntryNames[5]);
        bind(api_.add_send_data, kSendTsTcpEntryNames[6]);
        bind(api_.clear_send_buffer, kSendTsTcpEntryNames[7]);
        ASSERT_TRUE(send_api_complete(api_));
    }
    void TearDown() override { platform::free_library(library_); }

    template <typename Function>
    void bind(Function& entry, std::string_view name)
    {
        entry =
            reinterpret_cast<Function>(platform::find_symbol(library_, std::string(name).c_str()));
    }

    void add(int32_t id, const std::string& host, int32_t port)
    {
        const std::u16string wide(host.begin(), host.end());
        api_.add_send_address(id, wide.c_str(), port);
    }
    void send(int32_t id, const std::vector<uint8_t>& block)
    {
        api_.add_send_data(static_cast<uint32_t>(id), block.data(),
                           static_cast<uint32_t>(block.size()));
    }
    /// The program's closing order: clear, stop, uninitialise; returns what went to stderr.
    std::string close(int32_t id)
    {
        ::testing::internal::CaptureStderr();
        api_.clear_send_address(id);
        api_.stop_send(id);
        api_.uninitialize(id);
        return ::testing::internal::GetCapturedStderr();
    }

    platform::LibraryHandle library_ = nullptr;
    SendTsTcpApi api_;
};

TEST(SenderExports, ExactlyTheEightEntryPoints)
{
    std::vector<std::string> names;
    ASSERT_TRUE(test::exported_names(QV_SENDER_LIBRARY, names));
    std::vector<std::string> expected(kSendTsTcpEntryNames.begin(), kSendTsTcpEntryNames.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

TEST_F(StandInSender, ALateListenerGetsTheStreamFromItsConnectionOn)
{
    const int port = test::unused_port();
    const int32_t id = api_.initialize();
    ASSERT_NE(id, -1);
    add(id, "127.0.0.1", port);
    api_.start_send(id);  // refused: tried again every second
    std::unique_ptr<test::TcpListener> listener;
    uint32_t sent = 0;
    uint32_t first_after_connection = 0;
    const test::Deadline deadline(5000);
    while (!deadline.passed()) {
        if (sent == 10) {
            listener = std::make_unique<test::TcpListener>(port);
            ASSERT_TRUE(listener->listening());
        }
        if (listener && first_after_connection == 0 && listener->connections() > 0) {
            first_after_connection = sent;
        }
        if (first_after_connection > 0 && sent >= first_after_connection + 20) {
            break;
        }
        send(id, numbered_block(sent++));
        platform::sleep_ms(10);
    }
    ASSERT_GT(first_after_connection, 0u) << "the sender never connected";
    const std::string report = close(id);
    ASSERT_TRUE(listener->wait_for_ended(1, 5000));
    // Whole blocks from some block on to the last one, in order; the ones before were dropped
    // and counted.
    const std::vector<uint8_t> received = listener->received();
    ASSERT_EQ(received.size() % kBlockSize, 0u);
    const uint32_t count = static_cast<uint32_t>(received.size() / kBlockSize);
    // The listener may accept a moment before the sender sees its connection come up: the block
    // sent in between is still dropped.
    ASSERT_GE(count, 15u);
    ASSERT_LE(count, sent - 10);  // nothing from before the listener existed
    std::vector<uint8_t> expected;
    for (uint32_t index = sent - count; index < sent; ++index) {
        const std::vector<uint8_t> block = numbered_block(index);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_TRUE(received == expected);
    EXPECT_NE(report.find("127.0.0.1:" + std::to_string(port) + ": " +
                          std::to_string(uint64_t{sent - count} * kBlockSize) + " bytes dropped"),
              std::string::npos)
        << report;
}

TEST_F(StandInSender, ASlowReaderLosesNothing)
{
    // 512 KiB every 2 ms (or every tick of a coarser timer) is far slower than the sender and
    // still fast enough to take a full queue within the 5 s that stopping allows, also when a
    // loaded machine under Wine ticks every 15 ms or more (256 KiB a tick fell short there).
    test::TcpListener slow(0, 2, 512 * 1024);
    const int32_t id = api_.initialize();
    add(id, "127.0.0.1", slow.port());
    api_.start_send(id);
    std::vector<uint8_t> stream;
    for (uint32_t index = 0; index < 1400; ++index) {  // 67 MB, twice what the queue holds
        const std::vector<uint8_t> block = numbered_block(index);
        stream.insert(stream.end(), block.begin(), block.end());
        send(id, block);
    }
    const std::string report = close(id);
    EXPECT_EQ(report, "");
    ASSERT_TRUE(slow.wait_for_ended(1, 10000));
    EXPECT_TRUE(slow.received() == stream);
}

TEST_F(StandInSender, AReaderThatStopsReadingIsDroppedAfterTwoSeconds)
{
    test::TcpListener stalled(0, 30000, 1024);
    const int32_t id = api_.initialize();
    add(id, "127.0.0.1", stalled.port());
    api_.start_send(id);
    ::testing::internal::CaptureStderr();
    const test::Deadline clock(8000);
    uint32_t index = 0;
    while (!clock.passed()) {
        send(id, numbered_block(index++));
        if (::testing::internal::GetCapturedStderr().find("destination dropped") !=
            std::string::npos) {
            break;
        }
        ::testing::internal::CaptureStderr();
    }
    const double waited = clock.elapsed_ms() / 1000.0;
    EXPECT_GE(waited, 2.0);
    EXPECT_LT(waited, 8.0);
    send(id, numbered_block(index));  // dropped at once now
    const std::string report = close(id);
    EXPECT_NE(report.find("(reader too slow, dropped)"), std::string::npos) << report;
}

TEST_F(StandInSender, BadDestinationsAreCountedAndReportedNeverSilent)
{
    test::TcpListener good;
    const int refused = test::unused_port();
    const int32_t id = api_.initialize();
    add(id, "127.0.0.1", good.port());
    add(id, "127.0.0.1", 0);
    add(id, "127.0.0.1", 70000);
    add(id, "127.0.0.1", -5);
    add(id, "no-such-host.invalid", 1234);
    add(id, "127.0.0.1", refused);
    api_.start_send(id);
    for (uint32_t index = 0; index < 10; ++index) {
        send(id, numbered_block(index));
    }
    const std::string report = close(id);
    const std::string dropped = ": " + std::to_string(10 * kBlockSize) + " bytes dropped, 0 sent (";
    struct Case {
        std::string destination;
        std::string reason;
    };
    const Case cases[] = {
        {"127.0.0.1:0", "port 0 is not a TCP port"},
        {"127.0.0.1:70000", "port 70000 is not a TCP port"},
        {"127.0.0.1:-5", "port -5 is not a TCP port"},
        {"no-such-host.invalid:1234", "host not found"},
        {"127.0.0.1:" + std::to_string(refused), ""},
    };
    for (const Case& c : cases) {
        EXPECT_NE(report.find("SendTSTCP: " + c.destination + dropped + c.reason),
                  std::string::npos)
            << c.destination << " in\n"
            << report;
    }
    EXPECT_EQ(report.find("127.0.0.1:" + std::to_string(good.port()) + ":"), std::string::npos);
    ASSERT_TRUE(good.wait_for_ended(1, 5000));
    EXPECT_EQ(good.received().size(), 10 * kBlockSize);
}

TEST_F(StandInSender, ClearingTheDestinationsBeforeStoppingSendsWhatIsQueued)
{
    test::TcpListener reader(0, 1);
    const int32_t id = api_.initialize();
    add(id, "127.0.0.1", reader.port());
    api_.start_send(id);
    std::vector<uint8_t> stream;
    for (uint32_t index = 0; index < 200; ++index) {  // 9.6 MB, sent faster than it is read
        const std::vector<uint8_t> block = numbered_block(index);
        stream.insert(stream.end(), block.begin(), block.end());
        send(id, block);
    }
    EXPECT_EQ(close(id), "");
    ASSERT_TRUE(reader.wait_for_ended(1, 5000));
    EXPECT_TRUE(reader.received() == stream);
}

TEST_F(StandInSender, DataBeforeTheStartIsDroppedAndUnknownIdsAreIgnored)
{
    const int32_t first = api_.initialize();
    const int32_t second = api_.initialize();
    EXPECT_NE(first, second);
    add(first, "127.0.0.1", 9);
    send(first, numbered_block(0, 100));
    send(12345, numbered_block(0, 100));  // no such sender
    api_.stop_send(12345);
    api_.uninitialize(12345);
    const std::string report = close(first);
    EXPECT_NE(report.find("127.0.0.1:9: 100 bytes dropped, 0 sent (sender not started)"),
              std::string::npos)
        << report;
    EXPECT_EQ(close(second), "");
}

TEST_F(StandInSender, TcpSinkCountsAndSavesWhatItReceives)
{
    const int port = test::unused_port();
    const std::string saved = test::unique_temp_path("qv_tcp_sink", ".ts");
    test::ProgramRun run;
    std::thread sink([&] {
        run = test::run_program(QV_TCP_SINK,
                                {"--port", std::to_string(port), "--once", "--save", saved});
    });
    const int32_t id = api_.initialize();
    add(id, "127.0.0.1", port);
    api_.start_send(id);  // the sink may not listen yet: the sender tries again each second
    const uint32_t sent = 250;
    for (uint32_t index = 0; index < sent; ++index) {
        send(id, numbered_block(index));
        platform::sleep_ms(10);
    }
    const std::string report = close(id);
    sink.join();
    const std::vector<uint8_t> received = test::read_whole_file(saved);
    std::remove(saved.c_str());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::string out = run.out;  // Windows prints its lines in text mode: "\r\n"
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(out, "listening on " + std::to_string(port) + "\nreceived " +
                       std::to_string(received.size()) + " bytes in 1 connections\n");
    // The blocks from the connection on, whole and in order.
    ASSERT_GT(received.size(), 0u);
    ASSERT_EQ(received.size() % kBlockSize, 0u);
    std::vector<uint8_t> expected;
    for (uint32_t index = sent - static_cast<uint32_t>(received.size() / kBlockSize); index < sent;
         ++index) {
        const std::vector<uint8_t> block = numbered_block(index);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_TRUE(received == expected);
    (void)report;
}

}  // namespace
}  // namespace qv
