#include "board/hwio.h"

namespace board::hwio {

std::string ledLibraryName() {
    return "hwio.dll";
}

std::string systemLibraryFile() {
    return "HwIO.dll";
}

} // namespace board::hwio
