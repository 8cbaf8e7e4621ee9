#include "virtualboard/firmware.h"

#include "virtualboard/readout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace virtualboard {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(std::uint8_t(value));
    out.push_back(std::uint8_t(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(std::uint8_t(value >> shift));
}

std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void set32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(value >> (8 * i));
}

constexpr std::uint16_t kNumberElement = 0;
constexpr std::uint16_t kTextElement = 1;

// Numbers: a 24-bit mantissa and an 8-bit decimal exponent.
constexpr std::uint32_t decimal(std::int32_t mantissa, std::int8_t exponent) {
    return (std::uint32_t(std::uint8_t(exponent)) << 24) | (std::uint32_t(mantissa) & 0xFFFFFFu);
}

} // namespace

PackageBuilder& PackageBuilder::number(std::uint32_t value) {
    put16(elements_, kNumberElement);
    put16(elements_, 4);
    put32(elements_, value);
    put32(elements_, 0);
    ++count_;
    return *this;
}

PackageBuilder& PackageBuilder::text(std::string_view text) {
    const std::size_t length = text.size() + 1;
    put16(elements_, kTextElement);
    put16(elements_, std::uint16_t(length));
    elements_.insert(elements_.end(), text.begin(), text.end());
    elements_.push_back(0);
    // Four bytes beyond the data, and at least eight bytes of data room in all.
    elements_.insert(elements_.end(), length <= 4 ? 8 - length : 4, 0);
    ++count_;
    return *this;
}

std::vector<std::uint8_t> PackageBuilder::build() const {
    std::vector<std::uint8_t> out;
    put32(out, header_);
    put32(out, count_);
    out.insert(out.end(), elements_.begin(), elements_.end());
    return out;
}

const std::vector<ItemDefinition>& itemDefinitions() {
    constexpr std::uint32_t ro = kItemReadable, rw = kItemReadable | kItemWritable;
    // Kind nibble (bits 16-19): 7 boolean, 8 strings, 13 composite, others numbers whose
    // unit scaling the nibble picks (1: -2, 2: -3, 3: -1, 12: -3 on the exponent).
    static const std::vector<ItemDefinition> items = {
        // Readings.
        {kCpuTemperatureItem,
         400,
         ro,
         decimal(0, 0),
         decimal(1, 0),
         1501,
         {},
         "CPU temperature (0.1 C)"},
        {0x06010013, 12, ro, decimal(25, -2), decimal(5, 0), 100, {}, "CPU voltage"},
        {0x06020014, 3300, ro, decimal(0, 0), decimal(1, 0), 5000, {}, "3.3 V rail"},
        {0x060C0015, 1200, ro, decimal(-10000, 0), decimal(25, 1), 400, {}, "DRAM voltage"},
        {0x06000016, 1850, ro, decimal(0, 0), decimal(1, 0), 6000, {}, "CPU fan (rpm)"},
        {0x06050017, 2, ro, decimal(1, 2), decimal(1, -1), 50, {"N/A", "Idle"}, "Pump speed"},
        // Lighting.
        {kLightingOnItem, 1, rw, decimal(0, 0), decimal(1, 0), 0, {"Off", "On"}, "lighting on"},
        {kLightingControlItem,
         1,
         rw,
         decimal(0, 0),
         decimal(1, 0),
         0,
         {"Firmware", "Software"},
         "LED control"},
        {kEffectWordItem, 0xB3B3B302, rw, decimal(0, 0), decimal(1, 0), 0, {}, "effect word"},
        // Settings of other kinds.
        {0x13080050, 0, rw, 0, 0, 0, {"Auto", "Always on", "Sleep only"}, "LED zone mode"},
        {0x13070051, 1, rw, 0, 0, 0, {}, "LED on in sleep"},
        {0x130D0052, 0, ro, decimal(0, 0), decimal(1, 0), 4, {}, "lighting profile"},
        {0x13860053, 50, rw, decimal(0, 0), decimal(5, 0), 21, {}, "brightness (%)"},
        {0x13030054, 10, rw, decimal(0, 0), decimal(1, 0), 31, {"Off"}, "fade time (0.1 s)"},
    };
    return items;
}

std::vector<std::uint8_t> descriptorOf(const ItemDefinition& item) {
    PackageBuilder package;
    // Elements 1 and 2 belong to the firmware: the method code and the index.
    package.number(item.id).number(methodCodeOf(item.id)).number(item.id & 0xFFFF);
    package.number(item.access);
    const std::uint32_t kind = (item.id >> 16) & 0xF;
    if (kind == 7)
        return package.build();
    if (kind == 8) {
        package.number(std::uint32_t(item.strings.size()));
        for (const std::string& text : item.strings)
            package.text(text);
        return package.build();
    }
    package.number(item.base).number(item.step).number(item.count);
    if (!item.strings.empty()) {
        package.number(std::uint32_t(item.strings.size()));
        for (const std::string& text : item.strings)
            package.text(text);
    }
    return package.build();
}

std::vector<std::uint8_t> groupListOf(std::span<const std::uint32_t> methodCodes,
                                      std::uint32_t header) {
    PackageBuilder package(header);
    for (std::uint32_t code : methodCodes)
        package.number(code);
    return package.build();
}

std::vector<std::uint8_t> spoilDescriptor(std::vector<std::uint8_t> descriptor,
                                          MalformedKind kind) {
    if (descriptor.size() < 8)
        return descriptor;
    const std::uint32_t count = get32(descriptor.data() + 4);
    // Offsets of the elements, as a reader walks them.
    std::vector<std::size_t> elements;
    std::size_t at = 8;
    for (std::uint32_t i = 0; i < count && at + 4 <= descriptor.size(); ++i) {
        elements.push_back(at);
        const std::uint16_t length = std::uint16_t(descriptor[at + 2] | descriptor[at + 3] << 8);
        at += length <= 4 ? 12 : 8 + std::size_t(length);
    }
    switch (kind) {
    case MalformedKind::None:
        break;
    case MalformedKind::ElementCount:
        // More elements than the package holds, and more than 4096 bytes could.
        set32(descriptor.data() + 4, count + 400);
        break;
    case MalformedKind::ElementLength:
        if (!elements.empty()) {
            const std::size_t last = elements.back();
            descriptor[last + 2] = 0xF0;
            descriptor[last + 3] = 0x7F;
        }
        break;
    case MalformedKind::StringNul:
        for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
            const std::size_t element = *it;
            const std::uint16_t type =
                std::uint16_t(descriptor[element] | descriptor[element + 1] << 8);
            if (type != kTextElement)
                continue;
            // The text runs to the end of the package without a NUL.
            for (std::size_t i = element + 4; i < descriptor.size(); ++i)
                if (descriptor[i] == 0)
                    descriptor[i] = '#';
            break;
        }
        break;
    }
    return descriptor;
}

namespace {

LedColor scaled(std::uint32_t word, double level) {
    auto channel = [&](int shift) {
        return std::uint8_t(std::lround(double((word >> shift) & 0xFF) * level));
    };
    return {channel(8), channel(16), channel(24)};
}

// Full-saturation, full-value colour of a hue in [0, 1).
LedColor hueColor(double hue) {
    const double h = hue * 6.0;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const auto up = std::uint8_t(std::lround(255.0 * f));
    const auto down = std::uint8_t(std::lround(255.0 * (1.0 - f)));
    switch (sector) {
    case 0:
        return {255, up, 0};
    case 1:
        return {down, 255, 0};
    case 2:
        return {0, 255, up};
    case 3:
        return {0, down, 255};
    case 4:
        return {up, 0, 255};
    default:
        return {255, 0, down};
    }
}

} // namespace

LedColor renderEffect(std::uint32_t effectWord, std::uint64_t elapsedMs) {
    switch (FirmwareEffect(effectWord & 0xFF)) {
    case FirmwareEffect::Static:
        return scaled(effectWord, 1.0);
    case FirmwareEffect::Pulsating: {
        // Full at the start, dark half a period later, full again: a cosine swell.
        const double phase = double(elapsedMs % kPulsePeriodMs) / kPulsePeriodMs;
        return scaled(effectWord, 0.5 + 0.5 * std::cos(2.0 * std::numbers::pi * phase));
    }
    case FirmwareEffect::Strobing:
        return scaled(effectWord, elapsedMs % kStrobePeriodMs < kStrobeOnMs ? 1.0 : 0.0);
    case FirmwareEffect::Rainbow:
        return hueColor(double(elapsedMs % kRainbowPeriodMs) / kRainbowPeriodMs);
    }
    return {};
}

std::string effectName(std::uint32_t effectWord) {
    switch (FirmwareEffect(effectWord & 0xFF)) {
    case FirmwareEffect::Static:
        return "Static";
    case FirmwareEffect::Pulsating:
        return "Pulsating";
    case FirmwareEffect::Strobing:
        return "Strobing";
    case FirmwareEffect::Rainbow:
        return "Rainbow";
    }
    return "unknown (" + std::to_string(effectWord & 0xFF) + ")";
}

namespace {

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::optional<std::uint32_t> milliToTenths(const std::filesystem::path& file) {
    const std::string text = firstLine(file);
    if (text.empty())
        return std::nullopt;
    try {
        const long long milli = std::stoll(text);
        if (milli < 0 || milli > 200000)
            return std::nullopt;
        return std::uint32_t((milli + 50) / 100);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<std::filesystem::path> sortedEntries(const std::filesystem::path& directory,
                                                 std::string_view prefix) {
    std::vector<std::filesystem::path> entries;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace

std::optional<std::uint32_t> hostCpuTemperature(const std::string& sysRoot) {
    const std::filesystem::path root(sysRoot);
    // A CPU sensor driver first: its first input is the package temperature.
    static const char* const cpuSensors[] = {"coretemp", "k10temp", "zenpower", "cpu_thermal"};
    for (const auto& hwmon : sortedEntries(root / "class" / "hwmon", "hwmon")) {
        const std::string name = firstLine(hwmon / "name");
        if (std::find(std::begin(cpuSensors), std::end(cpuSensors), name) != std::end(cpuSensors))
            if (auto tenths = milliToTenths(hwmon / "temp1_input"))
                return tenths;
    }
    // Then the thermal zones: the CPU package's zone, else the first that reads.
    std::optional<std::uint32_t> any;
    for (const auto& zone : sortedEntries(root / "class" / "thermal", "thermal_zone")) {
        const auto tenths = milliToTenths(zone / "temp");
        if (!tenths)
            continue;
        const std::string type = firstLine(zone / "type");
        if (type == "x86_pkg_temp" || type.rfind("cpu", 0) == 0)
            return tenths;
        if (!any)
            any = tenths;
    }
    return any;
}

} // namespace virtualboard
