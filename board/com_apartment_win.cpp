#include "board/ec_led_port.h"

#include <objbase.h>

namespace board {

void enterSingleThreadedApartment() {
    // Already initialised (in either model) is fine: the caller only needs COM usable.
    (void)CoInitialize(nullptr);
}

} // namespace board
