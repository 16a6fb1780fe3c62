// The IBonDriver2 view of a driver object on POSIX: the C++ run-time type information, which
// compares classes of different libraries by their names.
#include "platform/tuner_driver.h"

namespace qv::platform {

IBonDriver2* bon_driver2_view(IBonDriver* driver)
{
    if (driver == nullptr) {
        return nullptr;
    }
    // A driver built without type information leaves the type slot in front of its table of
    // virtual functions empty (Itanium C++ ABI 2.5.2), and dynamic_cast would follow that null
    // pointer: such an object has no view.
    const void* const* table = *reinterpret_cast<const void* const* const*>(driver);
    if (table == nullptr || table[-1] == nullptr) {
        return nullptr;
    }
    return dynamic_cast<IBonDriver2*>(driver);
}

}  // namespace qv::platform
