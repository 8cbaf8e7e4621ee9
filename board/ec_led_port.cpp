#include "board/ec_led_port.h"

#include "board/smbios.h"

namespace board {

EcLedPort::EcLedPort() {
    // The thread goes on to use firmware items, which need COM.
    enterSingleThreadedApartment();
    boardMatches_ = isSupportedBoard(ReadBoardProductName());
}

} // namespace board
