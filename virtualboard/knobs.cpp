#include "virtualboard/knobs.h"

#include "virtualboard/board_image.h"
#include "virtualboard/board_options.h"

namespace virtualboard {

using namespace layout;

void Knobs::setBusyMode(BusyMode mode, std::uint32_t reads) {
    BoardImage::Lock lock(image_);
    image_.state().ec.busyMode = std::uint8_t(mode);
    image_.state().ec.busyReadsLeft = mode == BusyMode::ForReads ? reads : 0;
}

void Knobs::setOpenFails(bool fails) {
    BoardImage::Lock lock(image_);
    image_.state().openFails = fails ? 1 : 0;
}

void Knobs::setGlobalLockWord(std::uint32_t value) {
    if (std::uint32_t* word = image_.globalLockWord())
        std::atomic_ref<std::uint32_t>(*word).store(value);
}

void Knobs::setEcRegister(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
    BoardImage::Lock lock(image_);
    if (reg == kEcBankRegister)
        image_.state().ec.bank = value;
    else
        image_.state().ec.registers[bank][reg] = value;
}

void Knobs::resetCounters() {
    BoardImage::Lock lock(image_);
    image_.state().counters = Counters{};
}

void Knobs::clearTrace() {
    BoardImage::Lock lock(image_);
    image_.state().traceNext = 0;
}

} // namespace virtualboard
