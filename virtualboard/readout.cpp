#include "virtualboard/readout.h"

#include "virtualboard/board_image.h"
#include "virtualboard/board_options.h"
#include "virtualboard/firmware.h"
#include "virtualboard/platform.h"

namespace virtualboard {

using namespace layout;

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

} // namespace

std::uint8_t Readout::ecRegister(std::uint8_t bank, std::uint8_t reg) const {
    BoardImage::Lock lock(image_);
    if (reg == kEcBankRegister)
        return image_.state().ec.bank;
    return image_.state().ec.registers[bank][reg];
}

EcSnapshot Readout::ec() const {
    BoardImage::Lock lock(image_);
    const EcState& ec = image_.state().ec;
    return {EcPhase(ec.phase), ec.bank, BusyMode(ec.busyMode), ec.busyReadsLeft};
}

LedColor Readout::ecColor() const {
    BoardImage::Lock lock(image_);
    const auto& bank0 = image_.state().ec.registers[0];
    return {bank0[kRedRegister], bank0[kGreenRegister], bank0[kBlueRegister]};
}

LedColor Readout::ledColor() const {
    return ledView().color;
}

LedView Readout::ledView() const {
    return ledViewAt(wallClockMs());
}

LedView Readout::ledViewAt(std::uint64_t now) const {
    LedView view;
    BoardImage::Lock lock(image_);
    const ItemSlot* on = image_.slot(kLightingOnItem);
    const ItemSlot* control = image_.slot(kLightingControlItem);
    const ItemSlot* effect = image_.slot(kEffectWordItem);
    view.effectWord = effect ? effect->value : 0;
    if (on && on->value == 0) {
        view.source = LedView::Source::Dark;
    } else if (control && control->value == 0) {
        view.source = LedView::Source::Firmware;
        // The effect starts over whenever it is programmed.
        const std::uint64_t since =
            effect && effect->writtenAtMs ? effect->writtenAtMs : image_.firmware().poweredOnMs;
        view.color = renderEffect(view.effectWord, now > since ? now - since : 0);
    } else {
        const auto& bank0 = image_.state().ec.registers[0];
        view.color = {bank0[kRedRegister], bank0[kGreenRegister], bank0[kBlueRegister]};
    }
    return view;
}

Counters Readout::counters() const {
    BoardImage::Lock lock(image_);
    return image_.state().counters;
}

std::vector<TraceEntry> Readout::trace() const {
    BoardImage::Lock lock(image_);
    std::uint64_t next = image_.state().traceNext;
    std::uint64_t first = next > kTraceCapacity ? next - kTraceCapacity : 0;
    std::vector<TraceEntry> entries;
    entries.reserve(std::size_t(next - first));
    for (std::uint64_t i = first; i < next; ++i) {
        const TraceRecord& r = image_.traceRing()[i % kTraceCapacity];
        entries.push_back(
            {r.sequence, r.timeNs, TraceKind(r.kind), r.port, r.value, r.bank, r.reg, r.oldValue});
    }
    return entries;
}

std::uint32_t Readout::globalLockWord() const {
    std::uint32_t* word = image_.globalLockWord();
    return word ? std::atomic_ref<std::uint32_t>(*word).load() : 0;
}

Pm1Registers Readout::pm1() const {
    BoardImage::Lock lock(image_);
    const Pm1State& pm1 = image_.state().pm1;
    return {std::uint16_t(pm1.status[0] | pm1.status[1] << 8),
            std::uint16_t(pm1.enable[0] | pm1.enable[1] << 8),
            std::uint16_t(pm1.control[0] | pm1.control[1] << 8), pm1.chipset};
}

std::uint32_t Readout::windowRegister(std::uint32_t offset) const {
    std::uint8_t* at = image_.physical(kRegisterWindowAddress + std::uint64_t(offset), 4);
    return at ? read32(at) : 0;
}

} // namespace virtualboard
