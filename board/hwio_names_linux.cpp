#include "board/hwio.h"

namespace board::hwio {

std::string ledLibraryName() {
    return "libhwio.so";
}

std::string systemLibraryFile() {
    return "HwIO.so";
}

} // namespace board::hwio
