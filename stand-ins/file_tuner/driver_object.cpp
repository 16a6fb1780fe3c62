// The driver object of the file tuner and its factory "CreateBonDriver". Every operation passes
// to the core (file_tuner_core.h) through its C interface, so this file needs no C++ library
// and can be compiled for the Microsoft C++ ABI while the core is built by MinGW.
//
// Built twice: as a driver that implements IBonDriver2, and with FILE_TUNER_BASIC as one that
// implements IBonDriver only. One object per library at a time: "CreateBonDriver" returns null
// while the object is in use.
#include "driver_interface.h"
#include "file_tuner_core.h"

#if defined(_WIN32)
#define DRIVER_EXPORT extern "C" __declspec(dllexport)
#else
#define DRIVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(FILE_TUNER_BASIC)
using DriverInterface = IBonDriver;
#else
using DriverInterface = IBonDriver2;
#endif

class FileTuner final : public DriverInterface {
public:
    constexpr FileTuner() = default;

    bool claim()
    {
        if (__atomic_exchange_n(&in_use_, true, __ATOMIC_ACQ_REL)) {
            return false;
        }
        core_ = file_tuner_core_create();
        return true;
    }

    int32_t open_tuner() override { return file_tuner_core_open(core_); }
    void close_tuner() override { file_tuner_core_close(core_); }
    int32_t set_channel(uint8_t channel) override
    {
        return file_tuner_core_tune(core_, 0, channel);
    }
    float signal_level() override { return file_tuner_core_signal_level(core_); }
    uint32_t wait_stream(uint32_t timeout_ms) override
    {
        return file_tuner_core_wait(core_, timeout_ms);
    }
    uint32_t ready_count() override { return file_tuner_core_ready_count(core_); }
    int32_t get_stream(uint8_t* destination, uint32_t* size, uint32_t* remain) override
    {
        return file_tuner_core_copy(core_, destination, size, remain);
    }
    int32_t get_stream(uint8_t** data, uint32_t* size, uint32_t* remain) override
    {
        return file_tuner_core_fetch(core_, data, size, remain);
    }
    void purge_stream() override { file_tuner_core_purge(core_); }
    void release() override
    {
        file_tuner_core_destroy(core_);  // joins the reading thread
        core_ = nullptr;
        __atomic_store_n(&in_use_, false, __ATOMIC_RELEASE);
    }

#if !defined(FILE_TUNER_BASIC)
    const char16_t* tuner_name() override
    {
        return file_tuner_core_tuner_name();
    }
    int32_t is_tuner_opening() override
    {
        return file_tuner_core_is_open(core_);
    }
    const char16_t* enum_tuning_space(uint32_t space) override
    {
        return file_tuner_core_space_name(core_, space);
    }
    const char16_t* enum_channel_name(uint32_t space, uint32_t channel) override
    {
        return file_tuner_core_channel_name(core_, space, channel);
    }
    int32_t set_channel(uint32_t space, uint32_t channel) override
    {
        return file_tuner_core_tune(core_, space, channel);
    }
    uint32_t current_space() override
    {
        return file_tuner_core_current_space(core_);
    }
    uint32_t current_channel() override
    {
        return file_tuner_core_current_channel(core_);
    }
#endif

private:
    FileTunerCore* core_ = nullptr;
    bool in_use_ = false;
};

#if defined(_MSC_VER)
// Built for the Microsoft ABI without its C++ runtime, the object still needs two symbols of that
// runtime: the marker of floating-point use, and the table of virtual functions of type_info,
// which the type descriptors of the type information point at (nothing calls through it; only
// the names behind it are read).
extern "C" int _fltused = 0;
extern "C" const void* const file_tuner_type_info_table[1] __asm__("??_7type_info@@6B@") = {
    nullptr};
#endif

namespace {

FileTuner g_tuner;  // constant-initialised: no start-up code of a C++ runtime is needed

}  // namespace

DRIVER_EXPORT IBonDriver* CreateBonDriver()
{
    return g_tuner.claim() ? &g_tuner : nullptr;
}
