// Calls from MinGW code into an object built with the MSVC C++ ABI land in the slots the driver
// positions name (0 open, 1 close, 6 fetch with an out pointer, 8 discard, 9 release, 14 tune)
// only when the interface is declared in MSVC's slot order: MSVC groups overloads of one name and
// reverses them, GCC keeps declaration order. The stand-in library msvc_vtable_probe.dll (built
// by clang for the MSVC ABI) declares the two fetch operations as overloads, copy first.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/environment.h"
#include "platform/library.h"

namespace qv::platform {

// The interface as MinGW must declare it: MSVC's order, one name per slot, no destructor. It
// must not sit in an anonymous namespace: GCC would then know that no class of this program
// implements it and treat every call through it as unreachable.
class MsvcOrderDriver {
public:
    virtual int32_t open_tuner() = 0;                                              // 0
    virtual void close_tuner() = 0;                                                // 1
    virtual int32_t select_channel(uint8_t channel) = 0;                           // 2
    virtual uint32_t signal_level() = 0;                                           // 3
    virtual uint32_t wait_stream(uint32_t timeout) = 0;                            // 4
    virtual uint32_t ready_count() = 0;                                            // 5
    virtual int32_t fetch_stream(uint8_t** data, uint32_t* size, uint32_t* remain) = 0;  // 6
    virtual int32_t copy_stream(uint8_t* destination, uint32_t* size, uint32_t* remain) = 0;  // 7
    virtual void discard_stream() = 0;                                             // 8
    virtual void release() = 0;                                                    // 9
    virtual const char* tuner_name() = 0;                                          // 10
    virtual int32_t tuner_opening() = 0;                                           // 11
    virtual int32_t enum_space(uint32_t space) = 0;                                // 12
    virtual int32_t enum_channel(uint32_t space, uint32_t channel) = 0;            // 13
    virtual int32_t tune(uint32_t space, uint32_t channel) = 0;                    // 14

protected:
    ~MsvcOrderDriver() = default;  // never deleted through the interface: `release` ends it
};

namespace {

using CreateDriver = MsvcOrderDriver* (*)();
using LastCall = int32_t (*)();
using Tuned = uint32_t (*)(uint32_t);

std::string probe_path()
{
    std::string path = executable_path();
    const size_t separator = path.find_last_of("\\/");
    return path.substr(0, separator + 1) + "msvc_vtable_probe.dll";
}

TEST(MsvcDriverSlots, EveryPositionReachesTheOperationAnMsvcDriverHasThere)
{
    LibraryHandle library = load_library(probe_path());
    ASSERT_NE(library, nullptr) << probe_path() << " is built by scripts/test-windows.sh";
    auto create = reinterpret_cast<CreateDriver>(find_symbol(library, "create_probe_driver"));
    auto last_call = reinterpret_cast<LastCall>(find_symbol(library, "probe_last_call"));
    auto tuned = reinterpret_cast<Tuned>(find_symbol(library, "probe_tuned"));
    ASSERT_TRUE(create != nullptr && last_call != nullptr && tuned != nullptr);
    MsvcOrderDriver* driver = create();
    ASSERT_NE(driver, nullptr);

    EXPECT_EQ(driver->open_tuner(), 0);
    driver->close_tuner();
    EXPECT_EQ(last_call(), 1);

    // Position 6 hands out the driver's own buffer; position 7 would copy into ours.
    uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t remain = 99;
    EXPECT_EQ(driver->fetch_stream(&data, &size, &remain), 6);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(remain, 0u);
    EXPECT_EQ(data[0], 0x47);
    uint8_t copy[4] = {};
    size = sizeof copy;
    EXPECT_EQ(driver->copy_stream(copy, &size, &remain), 7);
    EXPECT_EQ(copy[0], 0x47);

    driver->discard_stream();
    EXPECT_EQ(last_call(), 8);
    EXPECT_EQ(driver->tune(3, 17), 14);
    EXPECT_EQ(tuned(0), 3u);
    EXPECT_EQ(tuned(1), 17u);
    driver->release();
    EXPECT_EQ(last_call(), 9);
    free_library(library);
}

}  // namespace
}  // namespace qv::platform
