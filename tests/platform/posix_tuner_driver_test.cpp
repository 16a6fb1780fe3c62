// The GCC layout of the tuner driver interfaces: each operation sits in the slot of the table of
// virtual functions that drivers built with GCC give it, and the IBonDriver2 view tells the two
// kinds of driver apart.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/library.h"
#include "platform/tuner_driver.h"

namespace qv::platform {
namespace {

/// The slot a pointer to a virtual member function names. The Itanium C++ ABI (2.3) represents
/// it as 1 plus the byte offset of the slot in the table, followed by the this-adjustment.
template <typename Member>
size_t slot_of(Member member)
{
    struct Representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    Representation representation;
    std::memcpy(&representation, &member, sizeof representation);
    EXPECT_EQ(representation.pointer % sizeof(void*), 1u) << "not a virtual function";
    return (representation.pointer - 1) / sizeof(void*);
}

TEST(TunerDriverLayout, OperationsSitInTheSlotsOfGccBuiltDrivers)
{
    // The positions the binding relies on; the pointer fetch is one behind the Windows position
    // because the copying fetch is declared before it.
    EXPECT_EQ(slot_of(&IBonDriver::open_tuner), 0u);
    EXPECT_EQ(slot_of(&IBonDriver::close_tuner), 1u);
    EXPECT_EQ(slot_of(&IBonDriver::copy_stream), 6u);
    EXPECT_EQ(slot_of(&IBonDriver::fetch_stream), 7u);
    EXPECT_EQ(slot_of(&IBonDriver::purge_stream), 8u);
    EXPECT_EQ(slot_of(&IBonDriver::release), 9u);
    EXPECT_EQ(slot_of(&IBonDriver2::purge_stream), 8u);  // the same slot through the extension
    EXPECT_EQ(slot_of(&IBonDriver2::tune), 14u);
    // Every other slot is accounted for, in order.
    EXPECT_EQ(slot_of(&IBonDriver::set_channel_number), 2u);
    EXPECT_EQ(slot_of(&IBonDriver::signal_level), 3u);
    EXPECT_EQ(slot_of(&IBonDriver::wait_stream), 4u);
    EXPECT_EQ(slot_of(&IBonDriver::ready_count), 5u);
    EXPECT_EQ(slot_of(&IBonDriver2::tuner_name), 10u);
    EXPECT_EQ(slot_of(&IBonDriver2::is_tuner_open), 11u);
    EXPECT_EQ(slot_of(&IBonDriver2::enum_tuning_space), 12u);
    EXPECT_EQ(slot_of(&IBonDriver2::enum_channel_name), 13u);
    EXPECT_EQ(slot_of(&IBonDriver2::current_space), 15u);
    EXPECT_EQ(slot_of(&IBonDriver2::current_channel), 16u);
}

TEST(TunerDriverView, OnlyAnExtendedDriverHasTheView)
{
    struct Case {
        const char* library;
        bool extended;
    };
    const Case cases[] = {{QV_FILE_TUNER, true}, {QV_FILE_TUNER_BASIC, false}};
    for (const Case& c : cases) {
        LibraryHandle library = load_library(c.library);
        ASSERT_NE(library, nullptr) << c.library;
        auto create =
            reinterpret_cast<CreateBonDriverFunction>(find_symbol(library, "CreateBonDriver"));
        ASSERT_NE(create, nullptr);
        IBonDriver* driver = create();
        ASSERT_NE(driver, nullptr);
        IBonDriver2* view = bon_driver2_view(driver);
        EXPECT_EQ(view != nullptr, c.extended) << c.library;
        if (view != nullptr) {
            EXPECT_EQ(static_cast<IBonDriver*>(view), driver);
        }
        driver->release();
        free_library(library);
    }
    EXPECT_EQ(bon_driver2_view(nullptr), nullptr);
}

}  // namespace
}  // namespace qv::platform
