// Writes the seed corpora in tests/fuzz/corpus: small well-formed inputs for each
// target, built with the same helpers the unit tests shape their data with, so the
// fuzzers start from the layouts the code expects. Run by hand after a change to a
// target's input layout, and commit what it writes:
//
//   build/linux/bin/fuzz_corpus_writer tests/fuzz/corpus

#include "audio/capture_wire.h"
#include "board/acpi_package.h"
#include "board/bios_item.h"
#include "board_fixtures.h"
#include "fake_acpi_bridge.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace testing_support;

std::filesystem::path root;

void seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const auto path = root / target / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void put8(Bytes& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
}
void put16(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 2; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

constexpr std::uint32_t kNumber = 0x13010001, kString = 0x13080002, kBoolean = 0x13070003,
                        kComposite = 0x130D0004;

std::vector<std::pair<std::string, Bytes>> descriptors() {
    return {
        {"number", numberDescriptor(kNumber, 0x00000000, 0x00000001, 100)},
        {"number-decimal", numberDescriptor(kNumber, 0xFE0004D2, 0xFF000005, 40)},
        {"number-extras", numberDescriptor(kNumber, 10, 5, 3, {"Auto", "Off"}, 7)},
        {"string", stringDescriptor(kString, {"Static", "Pulsating", "Strobing", "Rainbow"})},
        {"string-overcounted", stringDescriptor(kString, {"One"}, 5)},
        {"boolean", booleanDescriptor(kBoolean)},
        {"composite", numberDescriptor(kComposite, 1, 1, 2)},
    };
}

void acpiPackage() {
    for (const auto& [name, bytes] : descriptors())
        seed("acpi_package", name, bytes);
    seed("acpi_package", "group-list",
         board::AcpiPackageBuilder().value(0xC0DE0600).value(0xC0DE0601).build());
    seed("acpi_package", "overdeclared",
         board::AcpiPackageBuilder().value(1).text("cut").declareCount(0xFFFFFFFF).build());
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6};
    seed("acpi_package", "long-declared-length",
         board::AcpiPackageBuilder().raw(data, 0x0100).value(2).build());
}

void biosItem() {
    const auto all = descriptors();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Bytes& first = all[i].second;
        const Bytes& second = all[(i + 1) % all.size()].second;
        Bytes input;
        put32(input, first.size() > 11 ? board::readLe32(first.data() + 12) : 0);
        put8(input, 3);
        put16(input, std::uint32_t(first.size()));
        append(input, first);
        append(input, second);
        seed("bios_item", all[i].first, input);
    }
}

void smbios() {
    using namespace board_testing;
    const Bytes good =
        table({bios(), systemStructure("XR40-SUMMIT"), baseboard("XR40-SUMMIT"), endOfTable()});
    auto input = [](std::uint32_t paragraph, const Bytes& entry, const Bytes& structures) {
        Bytes out;
        put16(out, paragraph);
        put8(out, std::uint32_t(entry.size()));
        append(out, entry);
        append(out, structures);
        return out;
    };
    seed("smbios", "board", input(0x100, entryPoint(0x00100000, std::uint16_t(good.size())), good));
    seed("smbios", "table-service",
         input(0x8000, entryPoint(0x00100000, std::uint16_t(good.size())), good));
    seed("smbios", "window-aligned",
         input(0x000, entryPoint(0x00200000, std::uint16_t(good.size())), good));
    seed("smbios", "entry-at-area-end",
         input(0xFFF, entryPoint(0x00100000, std::uint16_t(good.size())), good));
    const Bytes noProduct = table({baseboard("", {}), endOfTable()});
    seed("smbios", "table-longer-than-memory",
         input(0x010, entryPoint(0x00100000, 0xFFFF), noProduct));
    Bytes cut = good;
    cut.resize(cut.size() / 2);
    seed("smbios", "cut-table",
         input(0x020, entryPoint(0x00100000, std::uint16_t(good.size())), cut));
}

// RSDP in the BIOS area, an RSDT listing an SSDT and the FADT, the FADT naming the
// FACS and the PM1a ports, as the global lock tests lay them out.
Bytes acpiInput(std::uint8_t flags, const char* signature, std::uint16_t copySize,
                std::uint32_t lockWord, bool fadtFromService) {
    auto table = [](const char* sig, std::uint32_t length) {
        Bytes bytes(length, 0);
        std::memcpy(bytes.data(), sig, 4);
        std::memcpy(bytes.data() + 4, &length, 4);
        return bytes;
    };
    Bytes fadt = table("FACP", 244);
    const std::uint32_t facs = 0xE8000, event = 0x0400, control = 0x0404;
    std::memcpy(fadt.data() + 36, &facs, 4);
    std::memcpy(fadt.data() + 56, &event, 4);
    std::memcpy(fadt.data() + 64, &control, 4);
    Bytes rsdp(20, 0);
    std::memcpy(rsdp.data(), "RSD PTR ", 8);
    const std::uint32_t rsdtAddress = 0xE6000;
    std::memcpy(rsdp.data() + 16, &rsdtAddress, 4);
    Bytes rsdt = table("RSDT", 44);
    const std::uint32_t ssdt = 0xE5000, fadtAddress = 0xE7000;
    std::memcpy(rsdt.data() + 36, &ssdt, 4);
    std::memcpy(rsdt.data() + 40, &fadtAddress, 4);
    Bytes facsBytes = table("FACS", 64);
    std::memcpy(facsBytes.data() + 16, &lockWord, 4);

    Bytes out;
    put8(out, flags | (fadtFromService ? 1 : 0));
    append(out, text(std::string(signature, 4)));
    put16(out, copySize);
    auto chunk = [&](std::uint32_t address, const Bytes& bytes) {
        put32(out, address);
        put16(out, std::uint32_t(bytes.size()));
        append(out, bytes);
    };
    if (fadtFromService)
        chunk(0, fadt);
    chunk(0xF0010, rsdp);
    chunk(rsdtAddress, rsdt);
    chunk(ssdt, table("SSDT", 36));
    chunk(fadtAddress, fadt);
    chunk(facs, facsBytes);
    return out;
}

void acpiTables() {
    seed("acpi_tables", "free-lock", acpiInput(0, "FACP", 4096, 0, false));
    seed("acpi_tables", "firmware-waits", acpiInput(2, "SSDT", 16, 0, false));
    seed("acpi_tables", "firmware-owns", acpiInput(0, "APIC", 300, 2, false));
    seed("acpi_tables", "table-service", acpiInput(2, "FACP", 244, 0, true));
}

void settingsFiles() {
    const std::string declaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="no" ?>)";
    const std::vector<std::pair<std::string, std::string>> lighting = {
        {"mode", declaration + "\n<root>\n    <Mode>2</Mode>\n</root>\n"},
        {"keyed-and-plain", declaration + "<r a='1'><Mode key=\"x\">1</Mode><Mode>0</Mode></r>"},
        {"cdata-comment", declaration + "<root><Mode><![CDATA[12]]></Mode><!-- c --></root>"},
        {"entities", declaration + "<!DOCTYPE x><root><Mode>&#50;&amp;&lt;</Mode></root>"},
        {"no-declaration", "<root><Mode>1</Mode></root>"},
        {"bom", "\xEF\xBB\xBF" + declaration + "<root><Mode> -7</Mode></root>"},
    };
    const std::vector<std::pair<std::string, std::string>> panel = {
        {"mode", declaration +
                     "\n<root>\n    <led key=\"-1\">\n        <mode>-1280068862</mode>\n    "
                     "</led>\n</root>\n"},
        {"other-key", declaration + "<root><led key=\"7\"><mode>3</mode></led></root>"},
        {"element-mode", declaration + "<root><led key=\"-1\"><mode><x/></mode></led></root>"},
        {"latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root><led "
                   "key=\"-1\"><mode>\xE9</mode></led></root>"},
        {"empty-led", declaration + "<root><led key=\"-1\"/></root><!--t-->"},
    };
    std::uint32_t value = 0;
    for (const auto& [name, xml] : lighting) {
        Bytes input;
        put32(input, value++ % 4);
        append(input, text(xml));
        seed("lighting_settings", name, input);
    }
    for (const auto& [name, xml] : panel) {
        Bytes input;
        put32(input, 0xB3B3B302u + value++);
        append(input, text(xml));
        seed("panel_settings", name, input);
    }
}

// One answer per bridge call, in the order the calls come: open, then the
// arguments, then the status.
void bridgeReplies() {
    const Bytes list = board::AcpiPackageBuilder().value(0xC0DE0600).value(0xC0DE0601).build();
    const Bytes number = numberDescriptor(0x13010040, 0, 1, 2);
    const Bytes strings = stringDescriptor(0x13080042, {"Static", "Rainbow"});
    auto arrayAnswer = [](Bytes& out, const Bytes& bytes, bool withLength) {
        put8(out, 1);
        put16(out, std::uint32_t(bytes.size()));
        append(out, bytes);
        put8(out, withLength ? 1 : 0);
        if (withLength)
            put32(out, std::uint32_t(bytes.size()));
        put8(out, 0);
    };
    Bytes good;
    put8(good, 0x13);
    put8(good, 0); // open for iAcpiGGrp
    arrayAnswer(good, list, true);
    for (const Bytes* d : {&number, &strings}) {
        put8(good, 0);
        arrayAnswer(good, *d, true);
    }
    for (int i = 0; i < 2; ++i) {
        put8(good, 0); // GetValue
        put8(good, 1);
        put32(good, 1);
        put8(good, 0);
        put8(good, 0); // SetValue
        put8(good, 0);
    }
    seed("bridge_replies", "group", good);

    Bytes huge;
    put8(huge, 0x06);
    put8(huge, 0);
    put8(huge, 3); // an array far longer than the buffer
    put8(huge, 0xFF);
    put8(huge, 0xA5);
    put8(huge, 1);
    put32(huge, 0xFFFFFFFF);
    put8(huge, 0);
    seed("bridge_replies", "huge-array", huge);

    Bytes absent;
    put8(absent, 0x06);
    put8(absent, 0);
    put8(absent, 2); // no array comes back
    put8(absent, 1);
    put32(absent, 64);
    put8(absent, 2);
    for (int i = 0; i < 6; ++i)
        put8(absent, 0x40);
    seed("bridge_replies", "absent-array", absent);
}

void ledController() {
    auto ops = [](std::initializer_list<std::pair<std::uint8_t, std::uint32_t>> list) {
        Bytes out;
        for (const auto& [op, value] : list) {
            put8(out, op);
            put32(out, value);
        }
        return out;
    };
    seed("led_controller", "modes", ops({{0, 1}, {0, 2}, {0, 0}, {0, 3}, {0, 0xFFFFFFFF}}));
    seed("led_controller", "short-modes", ops({{1, 0xFFFF}, {1, 2}, {1, 0x10001}, {1, 1}}));
    seed("led_controller", "colors", ops({{2, 0x00FF8000}, {3, 0xFFFF}, {0, 2}, {2, 0}}));
}

void captureWire() {
    auto packet = [](std::uint32_t frames, std::uint32_t channels) {
        Bytes samples(std::size_t(frames) * channels * 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::uint8_t(i * 37 + 11);
        return service::encodePacket(samples.data(), frames, 0, channels);
    };
    seed("capture_wire", "stereo", packet(48, 2));
    seed("capture_wire", "mono-prime", packet(47, 1));
    seed("capture_wire", "eight-channels", packet(5, 8));
    seed("capture_wire", "run-ended", service::encodeRunEnded(1));
    seed("capture_wire", "helper-line", text("<0>sink \x1b[31mred\x1b[0m\r\\"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    root = argv[1];
    acpiPackage();
    biosItem();
    smbios();
    acpiTables();
    settingsFiles();
    bridgeReplies();
    ledController();
    captureWire();
    return 0;
}
