// The IBonDriver2 view of a driver object on Windows. Drivers are built with Microsoft's
// compiler, whose type information MinGW's dynamic_cast cannot read; until the reader of that
// information is in place, no object has a view.
#include "platform/tuner_driver.h"

namespace qv::platform {

IBonDriver2* bon_driver2_view(IBonDriver*)
{
    return nullptr;
}

}  // namespace qv::platform
