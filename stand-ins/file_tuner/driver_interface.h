#pragma once
// The tuner driver interfaces as a driver declares them: the two stream fetches are overloads
// of one name, the copying one first, and the extended interface adds its operations behind the
// base ones, its channel selection again an overload of the base's. The compiler that builds the
// driver decides the slots: GCC keeps declaration order (the pointer fetch in slot 7), the
// Microsoft ABI groups and reverses overloads (the pointer fetch in slot 6).
//
// This header belongs to the stand-in alone; the program declares the interfaces on its own.
#include <stdint.h>

class IBonDriver {
public:
    virtual int32_t open_tuner() = 0;
    virtual void close_tuner() = 0;
    virtual int32_t set_channel(uint8_t channel) = 0;
    virtual float signal_level() = 0;
    virtual uint32_t wait_stream(uint32_t timeout_ms) = 0;
    virtual uint32_t ready_count() = 0;
    virtual int32_t get_stream(uint8_t* destination, uint32_t* size, uint32_t* remain) = 0;
    virtual int32_t get_stream(uint8_t** data, uint32_t* size, uint32_t* remain) = 0;
    virtual void purge_stream() = 0;
    virtual void release() = 0;

protected:
    ~IBonDriver() = default;
};

// The extension's channel selection hides the base's, as in the drivers. (A using-declaration
// would keep the base's visible, but the Microsoft layout would then move the new overload to
// the front of the extension's slots.)
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Woverloaded-virtual"
#endif
class IBonDriver2 : public IBonDriver {
public:
    virtual const char16_t* tuner_name() = 0;
    virtual int32_t is_tuner_opening() = 0;
    virtual const char16_t* enum_tuning_space(uint32_t space) = 0;
    virtual const char16_t* enum_channel_name(uint32_t space, uint32_t channel) = 0;
    virtual int32_t set_channel(uint32_t space, uint32_t channel) = 0;
    virtual uint32_t current_space() = 0;
    virtual uint32_t current_channel() = 0;

protected:
    ~IBonDriver2() = default;
};
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
