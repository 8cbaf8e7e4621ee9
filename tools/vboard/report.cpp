#include "vboard.h"
#include "virtualboard/bridge.h"
#include "virtualboard/firmware.h"
#include "virtualboard/tables.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string_view>

namespace vboard {

using namespace virtualboard;

std::string hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

namespace {

// Insertion order: the keys come out in the order a reader of the old output knows.
using Json = nlohmann::ordered_json;

// Text from the board or its firmware is bytes, not UTF-8: a product name may hold
// any byte. Each byte becomes the code point of the same value, so every byte shows
// and the JSON stays valid.
std::string jsonText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += char(0xC0 | (byte >> 6));
            text += char(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

// A path is the host's name for a file: UTF-8 on Windows as the system converts it,
// the bytes as they are on Linux.
std::string jsonPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void print(const Json& json, std::ostream& out) {
    // Only a Linux path can still be invalid UTF-8; it shows with replacement
    // characters rather than failing the whole report.
    out << json.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

const char* phaseName(layout::EcPhase phase) {
    switch (phase) {
    case layout::EcPhase::Idle:
        return "idle";
    case layout::EcPhase::WriteAddress:
        return "write-address";
    case layout::EcPhase::WriteValue:
        return "write-value";
    case layout::EcPhase::ReadAddress:
        return "read-address";
    }
    return "unknown";
}

const char* busyName(BusyMode mode) {
    switch (mode) {
    case BusyMode::Never:
        return "never";
    case BusyMode::ForReads:
        return "reads";
    case BusyMode::Always:
        return "always";
    }
    return "unknown";
}

const char* firmwareName(std::uint32_t phase) {
    switch (layout::FirmwareLockPhase(phase)) {
    case layout::FirmwareLockPhase::Idle:
        return "idle";
    case layout::FirmwareLockPhase::Holding:
        return "holding";
    case layout::FirmwareLockPhase::Done:
        return "released";
    }
    return "unknown";
}

struct CounterField {
    const char* name;
    std::uint64_t Counters::*field;
};

const CounterField kCounterFields[] = {
    {"ecTransactions", &Counters::ecTransactions},
    {"ecReadTransactions", &Counters::ecReadTransactions},
    {"ecProtocolErrors", &Counters::ecProtocolErrors},
    {"ecStatusReads", &Counters::ecStatusReads},
    {"ecBusyStatusReads", &Counters::ecBusyStatusReads},
    {"ecWritesWhileBusy", &Counters::ecWritesWhileBusy},
    {"portWrites", &Counters::portWrites},
    {"portReads", &Counters::portReads},
    {"unclaimedPortWrites", &Counters::unclaimedPortWrites},
    {"opens", &Counters::opens},
    {"maps", &Counters::maps},
    {"failedMaps", &Counters::failedMaps},
    {"unmaps", &Counters::unmaps},
    {"firmwareLockTakes", &Counters::firmwareLockTakes},
    {"firmwareLockReleases", &Counters::firmwareLockReleases},
    {"firmwareLockSignals", &Counters::firmwareLockSignals},
};

const char* kindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::PortWrite:
        return "out";
    case TraceKind::RegisterWrite:
        return "register";
    case TraceKind::ProtocolError:
        return "protocol-error";
    case TraceKind::FirmwareLock:
        return "firmware-lock";
    }
    return "unknown";
}

const char* sourceName(LedView::Source source) {
    switch (source) {
    case LedView::Source::Dark:
        return "dark";
    case LedView::Source::Firmware:
        return "firmware";
    case LedView::Source::Software:
        return "software";
    }
    return "unknown";
}

std::string itemLabel(std::uint32_t id) {
    for (const ItemDefinition& item : itemDefinitions())
        if (itemKey(item.id) == itemKey(id))
            return item.label;
    return {};
}

std::string methodName(std::uint8_t method) {
    return std::string(bridgeMethodName(BridgeMethod(method)));
}

// "iAcpiSetItem(0x13060042, 0x000000FF01, 0x1) ok"
std::string callText(const CallRecord& call) {
    std::string text = methodName(call.method) + "(";
    for (std::uint8_t i = 0; i < call.argumentCount; ++i)
        text += (i ? ", " : "") + hex(call.arguments[i], 0);
    const BridgeMethod method = BridgeMethod(call.method);
    const bool buffered = method == BridgeMethod::SetItemBuffer || method == BridgeMethod::Mbif ||
                          method == BridgeMethod::GGrp || method == BridgeMethod::CallMethod;
    if (buffered)
        text += std::string(call.argumentCount ? ", " : "") + "buffer " + hex(call.headerIn, 8) +
                "..., length " + std::to_string(call.lengthIn);
    text += ")";
    if (call.status != 0)
        return text + " failed " + hex(std::uint32_t(call.status), 8);
    if (method == BridgeMethod::GetItem || method == BridgeMethod::GetItemEx)
        text += " -> " + hex(call.result, 0);
    if (buffered)
        text += " -> length " + std::to_string(call.lengthOut);
    return text;
}

std::vector<std::string> faultTexts(const BridgeFaults& f) {
    std::vector<std::string> texts;
    if (f.offline)
        texts.push_back("offline");
    if (f.unknownMethod[0])
        texts.push_back(
            "unknown method " +
            std::string(f.unknownMethod, strnlen(f.unknownMethod, sizeof f.unknownMethod)));
    if (f.shorten)
        texts.push_back("lengths shortened to " + std::to_string(f.shortenTo));
    if (f.failGroupSet)
        texts.push_back("group " + hex(f.failGroup, 2) + " fails");
    if (f.malformedItem) {
        static const char* const kinds[] = {"", "element count", "element length", "string NUL"};
        texts.push_back("descriptor of " + hex(f.malformedItem, 8) + " malformed (" +
                        (f.malformedKind < 4 ? kinds[f.malformedKind] : "?") + ")");
    }
    if (f.delayMs)
        texts.push_back("calls delayed " + std::to_string(f.delayMs) + " ms");
    return texts;
}

Json itemsJson(const std::vector<FirmwareItem>& items, const Board& board) {
    Json array = Json::array();
    for (const FirmwareItem& item : items) {
        Json entry;
        entry["id"] = hex(item.id, 8);
        entry["label"] = jsonText(itemLabel(item.id));
        entry["value"] = board.items().read(item.id).value_or(item.value);
        entry["control"] = item.lastControl;
        entry["writes"] = item.writes;
        entry["methodCode"] = hex(item.methodCode, 8);
        entry["descriptorLength"] = std::uint32_t(item.descriptor.size());
        array.push_back(std::move(entry));
    }
    return array;
}

Json callJson(const CallRecord& call) {
    Json entry;
    entry["sequence"] = call.sequence;
    entry["timeMs"] = call.timeMs;
    entry["method"] = methodName(call.method);
    entry["arguments"] = Json::array();
    for (std::uint8_t i = 0; i < call.argumentCount; ++i)
        entry["arguments"].push_back(call.arguments[i]);
    entry["status"] = std::uint32_t(call.status);
    entry["ok"] = call.status == 0;
    entry["result"] = call.result;
    entry["lengthIn"] = call.lengthIn;
    entry["lengthOut"] = call.lengthOut;
    entry["headerIn"] = call.headerIn;
    return entry;
}

} // namespace

void showItems(Board& board, bool json, std::ostream& out) {
    const std::vector<FirmwareItem> items = board.items().all();
    if (json) {
        Json report;
        report["items"] = itemsJson(items, board);
        print(report, out);
        return;
    }
    for (const FirmwareItem& item : items) {
        const auto read = board.items().read(item.id);
        out << hex(item.id, 8) << "  " << hex(read.value_or(item.value), 8);
        if (item.writes)
            out << "  control " << item.lastControl << " (" << item.writes << " writes)";
        out << "  " << itemLabel(item.id);
        if (itemKey(item.id) == itemKey(kEffectWordItem))
            out << ": " << effectName(item.value) << " red " << ((item.value >> 8) & 0xFF)
                << " green " << ((item.value >> 16) & 0xFF) << " blue " << (item.value >> 24);
        if (itemKey(item.id) == itemKey(kCpuTemperatureItem))
            out << (board.items().hostTemperature() ? " (host sensor when present)" : " (set)");
        out << '\n';
    }
}

void showCalls(const Board& board, bool json, std::size_t last, std::ostream& out) {
    std::vector<CallRecord> calls = board.bridge().calls();
    if (last && calls.size() > last)
        calls.erase(calls.begin(), calls.end() - std::ptrdiff_t(last));
    if (json) {
        Json report = Json::array();
        for (const CallRecord& call : calls)
            report.push_back(callJson(call));
        print(report, out);
        return;
    }
    for (const CallRecord& call : calls)
        out << '#' << call.sequence << ' ' << callText(call) << '\n';
}

void showBoard(Board& board, bool json, std::ostream& out) {
    BoardFacts facts = board.facts();
    const Readout& readout = board.readout();
    const LedView view = readout.ledView();
    const LedColor led = view.color;
    const LedColor ecLed = readout.ecColor();
    const std::vector<FirmwareItem> items = board.items().all();
    const BridgeFaults faults = board.bridge().faults();
    std::vector<CallRecord> calls = board.bridge().calls();
    if (calls.size() > 5)
        calls.erase(calls.begin(), calls.end() - 5);
    EcSnapshot ec = readout.ec();
    std::uint32_t lock = readout.globalLockWord();
    layout::FirmwareLockState firmware = board.firmwareLock().state();
    Pm1Registers pm1 = readout.pm1();
    Counters counters = readout.counters();
    std::uint32_t window[2] = {readout.windowRegister(kWindowEnableOffsets[0]),
                               readout.windowRegister(kWindowEnableOffsets[1])};

    if (json) {
        Json report;
        report["image"] = jsonPath(std::filesystem::absolute(board.path()));
        report["product"] = jsonText(facts.productName);
        Json& ledJson = report["led"];
        ledJson["red"] = led.red;
        ledJson["green"] = led.green;
        ledJson["blue"] = led.blue;
        ledJson["source"] = sourceName(view.source);
        ledJson["effect"] = jsonText(effectName(view.effectWord));
        ledJson["effectWord"] = view.effectWord;
        report["items"] = itemsJson(items, board);
        Json& bridge = report["bridge"];
        bridge["faults"] = Json::array();
        for (const std::string& text : faultTexts(faults))
            bridge["faults"].push_back(jsonText(text));
        bridge["lastCalls"] = Json::array();
        for (const CallRecord& call : calls)
            bridge["lastCalls"].push_back(callJson(call));
        Json& ecJson = report["ec"];
        ecJson["bank"] = ec.bank;
        ecJson["phase"] = phaseName(ec.phase);
        ecJson["busyMode"] = busyName(ec.busyMode);
        ecJson["busyReadsLeft"] = ec.busyReadsLeft;
        Json& registers = ecJson["colorRegisters"];
        registers["0x53"] = readout.ecRegister(0, kRedRegister);
        registers["0x5D"] = readout.ecRegister(0, kGreenRegister);
        registers["0x5B"] = readout.ecRegister(0, kBlueRegister);
        Json& globalLock = report["globalLock"];
        globalLock["word"] = lock;
        globalLock["owned"] = (lock & 2) != 0;
        globalLock["pending"] = (lock & 1) != 0;
        globalLock["firmware"] = firmwareName(firmware.phase);
        globalLock["firmwareHoldMs"] = firmware.holdMs;
        Json& pm1a = report["pm1a"];
        pm1a["eventPort"] = facts.pm1aEventPort;
        pm1a["controlPort"] = facts.pm1aControlPort;
        pm1a["status"] = pm1.status;
        pm1a["enable"] = pm1.enable;
        pm1a["control"] = pm1.control;
        pm1a["eventPlus0x30"] = pm1.chipset;
        Json& registerWindow = report["registerWindow"];
        registerWindow["address"] = kRegisterWindowAddress;
        for (int i = 0; i < 2; ++i) {
            Json& enable = registerWindow[hex(kWindowEnableOffsets[i], 3)];
            enable["value"] = window[i];
            enable["bit8"] = (window[i] & 0x100) != 0;
            enable["bit9"] = (window[i] & 0x200) != 0;
        }
        Json& counterJson = report["counters"];
        for (const CounterField& field : kCounterFields)
            counterJson[field.name] = counters.*field.field;
        Json& tables = report["tables"];
        tables["tableService"] = facts.tableService;
        tables["firmwareDirectory"] = jsonPath(facts.firmwareDirectory);
        tables["baseboards"] = std::uint64_t(facts.baseboards);
        tables["smbiosEntryPoint"] = facts.smbiosEntryPoint;
        tables["smbiosTableAddress"] = facts.smbiosTableAddress;
        tables["smbiosTableLength"] = facts.smbiosTableLength;
        tables["rsdp"] = facts.rsdpAddress;
        tables["rsdt"] = facts.rsdtAddress;
        tables["fadt"] = facts.fadtAddress;
        tables["facs"] = facts.facsAddress;
        tables["missingExport"] = jsonText(facts.missingExport);
        print(report, out);
        return;
    }

    out << "board         " << facts.productName << "  (" << board.path().string() << ")\n";
    out << "LED colour    red " << hex(led.red, 2) << "  green " << hex(led.green, 2) << "  blue "
        << hex(led.blue, 2) << "  (" << sourceName(view.source);
    if (view.source == LedView::Source::Firmware)
        out << ": " << effectName(view.effectWord) << " effect word " << hex(view.effectWord, 8);
    out << ")\n";
    out << "EC colour     red " << hex(ecLed.red, 2) << "  green " << hex(ecLed.green, 2)
        << "  blue " << hex(ecLed.blue, 2) << "\n";
    out << "items\n";
    std::ostringstream itemLines;
    showItems(board, false, itemLines);
    std::istringstream lines(itemLines.str());
    for (std::string line; std::getline(lines, line);)
        out << "  " << line << "\n";
    std::vector<std::string> knobs = faultTexts(faults);
    out << "bridge faults ";
    if (knobs.empty())
        out << "none";
    for (std::size_t i = 0; i < knobs.size(); ++i)
        out << (i ? "; " : "") << knobs[i];
    out << "\n";
    out << "last calls" << (calls.empty() ? "    none" : "") << "\n";
    for (const CallRecord& call : calls)
        out << "  #" << call.sequence << ' ' << callText(call) << "\n";
    out << "EC            bank " << hex(ec.bank, 2) << ", " << phaseName(ec.phase) << ", busy "
        << busyName(ec.busyMode);
    if (ec.busyMode == BusyMode::ForReads)
        out << " (" << ec.busyReadsLeft << " reads left)";
    out << "\n";
    out << "global lock   " << hex(lock, 8) << ((lock & 2) ? " owned" : " free")
        << ((lock & 1) ? ", pending" : "") << "; firmware " << firmwareName(firmware.phase) << "\n";
    out << "PM1a          event " << hex(facts.pm1aEventPort, 4) << ": status "
        << hex(pm1.status, 4) << " enable " << hex(pm1.enable, 4) << " +0x30 "
        << hex(pm1.chipset, 2) << "; control " << hex(facts.pm1aControlPort, 4) << ": "
        << hex(pm1.control, 4) << "\n";
    for (int i = 0; i < 2; ++i)
        out << "window " << hex(kWindowEnableOffsets[i], 3) << "   " << hex(window[i], 8)
            << "  bit 8 " << ((window[i] & 0x100) ? "on" : "off") << ", bit 9 "
            << ((window[i] & 0x200) ? "on" : "off") << "\n";
    out << "counters     ";
    for (const CounterField& field : kCounterFields)
        if (counters.*field.field)
            out << ' ' << field.name << '=' << counters.*field.field;
    out << "\n";
    out << "tables        _SM_ " << hex(facts.smbiosEntryPoint, 5) << ", structures "
        << hex(facts.smbiosTableAddress, 8) << " (" << facts.smbiosTableLength << " bytes, "
        << facts.baseboards << " baseboard)";
    if (facts.rsdpAddress)
        out << ", RSDP " << hex(facts.rsdpAddress, 5);
    out << ", FACS " << hex(facts.facsAddress, 8) << "\n";
    out << "table service "
        << (facts.firmwareDirectory.empty()
                ? std::string("no directory written")
                : facts.firmwareDirectory.string() + (facts.tableService ? "" : " (empty)"))
        << "\n";
    if (!facts.missingExport.empty())
        out << "HwIO          installed without " << facts.missingExport << "\n";
}

void showTrace(const Board& board, bool json, std::size_t last, std::ostream& out) {
    std::vector<TraceEntry> entries = board.readout().trace();
    if (last && entries.size() > last)
        entries.erase(entries.begin(), entries.end() - std::ptrdiff_t(last));
    if (json) {
        Json report = Json::array();
        for (const TraceEntry& e : entries) {
            Json entry;
            entry["sequence"] = e.sequence;
            entry["timeNs"] = e.timeNs;
            entry["kind"] = kindName(e.kind);
            entry["port"] = e.port;
            entry["value"] = e.value;
            if (e.kind == TraceKind::RegisterWrite) {
                entry["bank"] = e.bank;
                entry["register"] = e.reg;
                entry["old"] = e.oldValue;
            }
            report.push_back(std::move(entry));
        }
        print(report, out);
        return;
    }
    std::uint64_t start = entries.empty() ? 0 : entries.front().timeNs;
    for (const TraceEntry& e : entries) {
        char when[32];
        // Times of records from other processes may come from another clock.
        double ms = e.timeNs >= start ? double(e.timeNs - start) / 1e6 : 0.0;
        std::snprintf(when, sizeof when, "%10.3f ms", ms);
        out << '#' << e.sequence << ' ' << when << "  ";
        switch (e.kind) {
        case TraceKind::PortWrite:
            out << "out " << hex(e.port, 4) << " <- " << hex(e.value, 2);
            break;
        case TraceKind::RegisterWrite:
            if (e.reg == kEcBankRegister)
                out << "bank " << hex(e.oldValue, 2) << " -> " << hex(e.value, 2);
            else
                out << "register " << hex(e.bank, 2) << ':' << hex(e.reg, 2) << ' '
                    << hex(e.oldValue, 2) << " -> " << hex(e.value, 2);
            break;
        case TraceKind::ProtocolError:
            out << "protocol error: unexpected " << hex(e.value, 2) << " on " << hex(e.port, 4);
            break;
        case TraceKind::FirmwareLock:
            out << (e.value == 1   ? "firmware took the global lock"
                    : e.value == 0 ? "firmware released the global lock"
                                   : "firmware signalled the waiter (GBL_STS)");
            break;
        }
        out << '\n';
    }
}

} // namespace vboard
