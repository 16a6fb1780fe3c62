#pragma once
// The tuner driver interfaces in the slot order of drivers built with Microsoft's compiler,
// declared so that MinGW produces the same table: that compiler groups the overloads of one name
// and reverses them, so the pointer fetch, declared after the copying fetch in such a driver,
// lands in slot 6 and the copying fetch in slot 7. Here each slot has a name of its own and the
// declaration order is the slot order. Included through platform/tuner_driver.h only.
#include <cstdint>

class IBonDriver {
public:
    virtual int32_t open_tuner() = 0;                         // 0
    virtual void close_tuner() = 0;                           // 1
    virtual int32_t set_channel_number(uint8_t channel) = 0;  // 2
    virtual float signal_level() = 0;                         // 3
    virtual uint32_t wait_stream(uint32_t timeout_ms) = 0;    // 4
    virtual uint32_t ready_count() = 0;                       // 5
    /// Hands out the driver's own buffer; it stays valid until the next call on the object.
    virtual int32_t fetch_stream(uint8_t** data, uint32_t* size, uint32_t* remain) = 0;  // 6
    /// Copies up to *size bytes into `destination`; *size becomes the count copied.
    virtual int32_t copy_stream(uint8_t* destination, uint32_t* size, uint32_t* remain) = 0;  // 7
    /// Discards the stream data the driver holds.
    virtual void purge_stream() = 0;  // 8
    /// Ends the object; nothing may call it afterwards.
    virtual void release() = 0;  // 9

protected:
    ~IBonDriver() = default;  // never deleted through the interface: `release` ends it
};

class IBonDriver2 : public IBonDriver {
public:
    /// Texts of the driver (UTF-16, NUL-terminated, owned by the driver); never read here.
    virtual const char16_t* tuner_name() = 0;                                         // 10
    virtual int32_t is_tuner_open() = 0;                                              // 11
    virtual const char16_t* enum_tuning_space(uint32_t space) = 0;                    // 12
    virtual const char16_t* enum_channel_name(uint32_t space, uint32_t channel) = 0;  // 13
    /// Tunes to `channel` of tuning space `space`; non-zero on success.
    virtual int32_t tune(uint32_t space, uint32_t channel) = 0;  // 14
    virtual uint32_t current_space() = 0;                        // 15
    virtual uint32_t current_channel() = 0;                      // 16

protected:
    ~IBonDriver2() = default;
};
