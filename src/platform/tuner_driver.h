#pragma once
// The interfaces of a tuner driver library ("CreateBonDriver" returns an IBonDriver, which newer
// drivers extend to IBonDriver2), laid out as the drivers of this platform are compiled, and the
// IBonDriver2 view of a driver object.
//
// The interfaces stay in the global namespace and have no virtual destructor: the driver ends an
// object through `release`. Only the calls the tuner binding makes have fixed positions in the
// table of virtual functions: open 0, close 1, the pointer fetch 6 (7 with the GCC layout of
// POSIX drivers, where the copying fetch is declared before it), purge 8, release 9, tune 14.
// The other slots carry one name each so that every position is accounted for.
#include <cstdint>

#if defined(_WIN32)
#include "platform/win32/tuner_driver_layout.h"
#else
#include "platform/posix/tuner_driver_layout.h"
#endif

namespace qv::platform {

/// The factory every driver library exports as "CreateBonDriver"; null when it has no object.
using CreateBonDriverFunction = IBonDriver* (*)();

/// The same object as an IBonDriver2 when its type information says it implements that
/// interface; null when it does not, or when the information is absent or unreadable.
IBonDriver2* bon_driver2_view(IBonDriver* driver);

}  // namespace qv::platform
