// The tuner queue's hand-over: a reader waiting for the next delivery wakes when it comes, not
// when its time-out ends (a sleep can last a whole timer tick, in which the queue fills and the
// reception thread throws deliveries away).
#include "ts/tuner_buffer.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/clock.h"
#include "platform/thread.h"

namespace qv {
namespace {

/// Milliseconds that wait_for_tuner_data with a 20 s time-out waited while `act` ran on another
/// thread after a short pause.
uint32_t waited_ms(TunerReceiveBuffer& tuner, const std::function<void()>& act)
{
    platform::Thread other;
    EXPECT_TRUE(other.start([&act] {
        platform::sleep_ms(20);
        act();
    }));
    const uint32_t start = platform::tick_count_ms();
    wait_for_tuner_data(tuner, 20000);
    const uint32_t waited = platform::tick_count_ms() - start;
    other.join();
    return waited;
}

TEST(TunerQueue, AWaitingReaderWakesAtTheNextDeliveryOrTheEndOfReception)
{
    const uint8_t bytes[4] = {0x47, 1, 2, 3};
    TunerReceiveBuffer tuner;
    tuner.running = true;
    // Far below the time-out: the delivery itself woke the reader.
    EXPECT_LT(waited_ms(tuner, [&] { EXPECT_TRUE(append_to_tuner_buffer(tuner, bytes, 4, 940)); }),
              10000u);
    // Bytes already queued: no wait at all.
    const uint32_t start = platform::tick_count_ms();
    wait_for_tuner_data(tuner, 20000);
    EXPECT_LT(platform::tick_count_ms() - start, 10000u);

    uint8_t taken[8] = {};
    EXPECT_EQ(take_from_tuner_buffer(tuner, taken, sizeof taken), 4u);
    EXPECT_LT(waited_ms(tuner, [&] { wake_tuner_reader(tuner); }), 10000u);
    // A queue at its limit takes nothing more.
    uint8_t full[940] = {};
    EXPECT_TRUE(append_to_tuner_buffer(tuner, full, sizeof full, 940));
    EXPECT_FALSE(append_to_tuner_buffer(tuner, bytes, 4, 940));
}

}  // namespace
}  // namespace qv
