// A small program that writes one LED colour the way the service does: it loads the
// HwIO stand-in by file name, opens it and runs the EC write transactions.
//
//     vboard_color_writer RED GREEN BLUE [music]

#include "hwio_binding.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s RED GREEN BLUE [music]\n", argv[0]);
        return 2;
    }
    vbtest::HwioBinding hwio;
    if (!hwio.open || !hwio.inPortB || !hwio.outPortB) {
        std::fprintf(stderr, "cannot load %s\n", virtualboard::hwioBareName().c_str());
        return 1;
    }
    if (hwio.open(0) == 0) {
        std::fprintf(stderr, "HWIO_Open failed (is VBOARD_IMAGE a board?)\n");
        return 1;
    }
    hwio.reallySleep = true;
    auto component = [&](int i) {
        return std::uint8_t(std::strtoul(argv[i], nullptr, 0));
    };
    bool music = argc > 4 && std::string(argv[4]) == "music";
    hwio.writeColor(component(1), component(2), component(3), music);
    return 0;
}
