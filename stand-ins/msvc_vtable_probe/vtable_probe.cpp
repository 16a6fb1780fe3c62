// A tuner-driver-shaped object compiled with the MSVC C++ ABI (clang --target=*-pc-windows-msvc,
// linked by lld-link without any runtime), so that the MinGW-built tests can check which slot of
// the table of virtual functions each call reaches in a driver built by MSVC.
//
// The interface is declared the way an MSVC driver would declare it: the two fetch operations are
// overloads of one name, declared copy first and out-pointer second, and the extended interface
// adds its operations behind the base ones. Every operation records the position the MinGW side
// expects it at, so a call that lands in the wrong slot is seen.

using u8 = unsigned char;
using u32 = unsigned int;
using i32 = int;

namespace {

i32 g_last_call = -1;  // what the last call recorded
u32 g_tuned_space = 0;
u32 g_tuned_channel = 0;
u8 g_stream[4] = {0x47, 0x1F, 0xFF, 0x10};

}  // namespace

struct ProbeDriver {
    virtual i32 open_tuner();                                     // 0
    virtual void close_tuner();                                   // 1
    virtual i32 select_channel(u8 channel);                       // 2
    virtual u32 signal_level();                                   // 3
    virtual u32 wait_stream(u32 timeout);                         // 4
    virtual u32 ready_count();                                    // 5
    virtual i32 fetch(u8* destination, u32* size, u32* remain);   // MSVC: 7
    virtual i32 fetch(u8** data, u32* size, u32* remain);         // MSVC: 6
    virtual void discard();                                       // 8
    virtual void release();                                       // 9
};

struct ProbeDriver2 : ProbeDriver {
    virtual const char* tuner_name();                             // 10
    virtual i32 tuner_opening();                                  // 11
    virtual i32 enum_space(u32 space);                            // 12
    virtual i32 enum_channel(u32 space, u32 channel);             // 13
    virtual i32 tune(u32 space, u32 channel);                     // 14
};

i32 ProbeDriver::open_tuner() { return g_last_call = 0; }
void ProbeDriver::close_tuner() { g_last_call = 1; }
i32 ProbeDriver::select_channel(u8) { return g_last_call = 2; }
u32 ProbeDriver::signal_level() { g_last_call = 3; return 3; }
u32 ProbeDriver::wait_stream(u32) { g_last_call = 4; return 4; }
u32 ProbeDriver::ready_count() { g_last_call = 5; return 5; }
i32 ProbeDriver::fetch(u8* destination, u32* size, u32* remain)
{
    g_last_call = 7;
    for (u32 i = 0; i < 4 && i < *size; ++i) {
        destination[i] = g_stream[i];
    }
    *size = 4;
    *remain = 0;
    return 7;
}
i32 ProbeDriver::fetch(u8** data, u32* size, u32* remain)
{
    g_last_call = 6;
    *data = g_stream;  // stays owned by the driver
    *size = 4;
    *remain = 0;
    return 6;
}
void ProbeDriver::discard() { g_last_call = 8; }
void ProbeDriver::release() { g_last_call = 9; }
const char* ProbeDriver2::tuner_name() { g_last_call = 10; return "probe"; }
i32 ProbeDriver2::tuner_opening() { return g_last_call = 11; }
i32 ProbeDriver2::enum_space(u32) { return g_last_call = 12; }
i32 ProbeDriver2::enum_channel(u32, u32) { return g_last_call = 13; }
i32 ProbeDriver2::tune(u32 space, u32 channel)
{
    g_tuned_space = space;
    g_tuned_channel = channel;
    return g_last_call = 14;
}

namespace {

ProbeDriver2 g_driver;  // constant-initialised: no runtime start-up code is needed

}  // namespace

extern "C" __declspec(dllexport) ProbeDriver* create_probe_driver() { return &g_driver; }
extern "C" __declspec(dllexport) i32 probe_last_call() { return g_last_call; }
extern "C" __declspec(dllexport) u32 probe_tuned(u32 which)
{
    return which == 0 ? g_tuned_space : g_tuned_channel;
}
