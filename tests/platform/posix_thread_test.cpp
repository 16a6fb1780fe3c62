// Whether a processor is free for a second thread, on POSIX: the runnable count of the load file.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace qv::platform {
namespace {

TEST(RunnableInLoadLine, ReadsThePartBeforeTheSlashOfTheFourthField)
{
    EXPECT_EQ(runnable_in_load_line("0.52 0.58 0.59 3/512 4711\n"), 3);
    EXPECT_EQ(runnable_in_load_line("12.00 11.50 9.75 17/2048 99"), 17);
    EXPECT_EQ(runnable_in_load_line("0.00  0.01  0.05  1/80 7"), 1);  // several spaces

    EXPECT_EQ(runnable_in_load_line("0.52 0.58 0.59"), -1);         // no fourth field
    EXPECT_EQ(runnable_in_load_line("0.52 0.58 0.59 3 512"), -1);   // no slash
    EXPECT_EQ(runnable_in_load_line("0.52 0.58 0.59 /512 4"), -1);  // no digits
    EXPECT_EQ(runnable_in_load_line(""), -1);
    EXPECT_EQ(runnable_in_load_line(nullptr), -1);
}

TEST(ProcessorToSpare, IsNoneWhileEveryProcessorIsKeptBusy)
{
    if (!std::ifstream("/proc/loadavg")) {
        GTEST_SKIP() << "the system has no load file";
    }
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    const int processors = CPU_COUNT(&allowed);
    // One spinning thread per processor: each is ready to run at every look.
    std::atomic<bool> spin{true};
    std::vector<std::thread> spinners;
    for (int i = 0; i < processors; ++i) {
        spinners.emplace_back([&spin] {
            while (spin.load(std::memory_order_relaxed)) {
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool spare = processor_to_spare();
    spin = false;
    for (std::thread& spinner : spinners) {
        spinner.join();
    }
    EXPECT_FALSE(spare);
}

}  // namespace
}  // namespace qv::platform
