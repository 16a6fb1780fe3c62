// The Windows declaration of the tuner driver interfaces against objects built with the
// Microsoft C++ ABI, and the IBonDriver2 view read from that ABI's type information.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/environment.h"
#include "platform/library.h"
#include "platform/tuner_driver.h"

// A class of this program's own: MinGW gives it type information of another ABI, which the view
// must not take for the drivers'. Outside any anonymous namespace, so that GCC cannot tell that
// nothing overrides its operations elsewhere.
class MingwBuiltDriver : public IBonDriver2 {
public:
    int32_t open_tuner() override { return 1; }
    void close_tuner() override {}
    int32_t set_channel_number(uint8_t) override { return 0; }
    float signal_level() override { return 0; }
    uint32_t wait_stream(uint32_t) override { return 0; }
    uint32_t ready_count() override { return 0; }
    int32_t fetch_stream(uint8_t**, uint32_t*, uint32_t*) override { return 0; }
    int32_t copy_stream(uint8_t*, uint32_t*, uint32_t*) override { return 0; }
    void purge_stream() override {}
    void release() override {}
    const char16_t* tuner_name() override { return u"mingw"; }
    int32_t is_tuner_open() override { return 0; }
    const char16_t* enum_tuning_space(uint32_t) override { return nullptr; }
    const char16_t* enum_channel_name(uint32_t, uint32_t) override { return nullptr; }
    int32_t tune(uint32_t, uint32_t) override { return 0; }
    uint32_t current_space() override { return 0; }
    uint32_t current_channel() override { return 0; }
};

namespace qv::platform {
namespace {

using CreateProbe = IBonDriver* (*)();
using LastCall = int32_t (*)();

std::string beside_tests(const char* name)
{
    std::string path = executable_path();
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

TEST(TunerDriverLayout, TheProgramsDeclarationReachesTheSlotsOfAnMsvcBuiltDriver)
{
    LibraryHandle library = load_library(beside_tests("msvc_vtable_probe.dll"));
    ASSERT_NE(library, nullptr) << "msvc_vtable_probe.dll is built by scripts/test-windows.sh";
    auto create = reinterpret_cast<CreateProbe>(find_symbol(library, "create_probe_driver"));
    auto last_call = reinterpret_cast<LastCall>(find_symbol(library, "probe_last_call"));
    ASSERT_TRUE(create != nullptr && last_call != nullptr);
    // The probe is built without type information: it is used through the declaration alone.
    auto* driver = static_cast<IBonDriver2*>(create());
    EXPECT_EQ(driver->open_tuner(), 0);
    driver->close_tuner();
    EXPECT_EQ(last_call(), 1);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t remain = 0;
    EXPECT_EQ(driver->fetch_stream(&data, &size, &remain), 6);
    uint8_t copy[4] = {};
    size = sizeof copy;
    EXPECT_EQ(driver->copy_stream(copy, &size, &remain), 7);
    driver->purge_stream();
    EXPECT_EQ(last_call(), 8);
    EXPECT_EQ(driver->tune(1, 2), 14);
    driver->release();
    EXPECT_EQ(last_call(), 9);
    // Without type information there is no view, and reading for it does no harm.
    EXPECT_EQ(bon_driver2_view(create()), nullptr);
    free_library(library);
}

#if defined(QV_FILE_TUNER)
TEST(TunerDriverView, ReadFromTheMsvcTypeInformationOfTheDriver)
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
            EXPECT_EQ(std::u16string(view->tuner_name()), u"File tuner");  // slot 10 works
        }
        driver->release();
        free_library(library);
    }
}
#endif

TEST(TunerDriverView, AnObjectWithAnotherAbisTypeInformationHasNoView)
{
    MingwBuiltDriver driver;
    EXPECT_EQ(bon_driver2_view(&driver), nullptr);
    EXPECT_EQ(bon_driver2_view(nullptr), nullptr);
}

}  // namespace
}  // namespace qv::platform
