#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"

namespace qv::platform {
namespace {

TEST(ManualResetEventState, StaysSignalledUntilResetAndTimesOutOtherwise)
{
    ManualResetEvent event(true);
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.wait(0));  // manual reset: waiting does not consume the signal
    event.reset();
    EXPECT_FALSE(event.wait(0));

    const uint32_t before = tick_count_ms();
    EXPECT_FALSE(event.wait(60));
    EXPECT_GE(tick_count_ms() - before, 40u);  // the tick count may be coarse by up to 16 ms
    event.set();
    EXPECT_TRUE(event.wait(kWaitForever));
}

TEST(ManualResetEventState, OneSetReleasesEveryWaitingThread)
{
    ManualResetEvent gate(false);
    std::atomic<int> released{0};
    Thread first;
    Thread second;
    auto body = [&] {
        if (gate.wait()) {
            ++released;
        }
    };
    ASSERT_TRUE(first.start(body));
    ASSERT_TRUE(second.start(body));
    sleep_ms(50);
    EXPECT_EQ(released.load(), 0);
    EXPECT_TRUE(first.running());
    gate.set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
    EXPECT_FALSE(first.running());
}

TEST(ThreadLifetime, JoinWithoutStartReturnsAndDestructionJoins)
{
    Thread idle;
    idle.join();
    EXPECT_FALSE(idle.running());

    std::atomic<bool> finished{false};
    {
        Thread worker;
        ASSERT_TRUE(worker.start([&] {
            sleep_ms(30);
            finished = true;
        }));
    }
    EXPECT_TRUE(finished.load());
}

}  // namespace
}  // namespace qv::platform
