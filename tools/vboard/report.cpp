#include "json.h"
#include "vboard.h"
#include "virtualboard/bridge.h"
#include "virtualboard/firmware.h"
#include "virtualboard/tables.h"

#include <cstdio>
#include <cstring>
#include <ostream>
#include <sstream>

namespace vboard {

using namespace virtualboard;

std::string hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

namespace {

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

void writeItems(JsonWriter& w, const std::vector<FirmwareItem>& items, const Board& board) {
    w.beginArray("items");
    for (const FirmwareItem& item : items) {
        w.beginObject();
        w.value("id", hex(item.id, 8)).value("label", itemLabel(item.id));
        const auto read = board.items().read(item.id);
        w.value("value", read.value_or(item.value));
        w.value("control", item.lastControl).value("writes", item.writes);
        w.value("methodCode", hex(item.methodCode, 8));
        w.value("descriptorLength", std::uint32_t(item.descriptor.size()));
        w.endObject();
    }
    w.endArray();
}

void writeCall(JsonWriter& w, const CallRecord& call) {
    w.beginObject();
    w.value("sequence", call.sequence).value("timeMs", call.timeMs);
    w.value("method", methodName(call.method));
    w.beginArray("arguments");
    for (std::uint8_t i = 0; i < call.argumentCount; ++i)
        w.value({}, call.arguments[i]);
    w.endArray();
    w.value("status", std::uint32_t(call.status)).value("ok", call.status == 0);
    w.value("result", call.result);
    w.value("lengthIn", call.lengthIn).value("lengthOut", call.lengthOut);
    w.value("headerIn", call.headerIn);
    w.endObject();
}

} // namespace

void showItems(Board& board, bool json, std::ostream& out) {
    const std::vector<FirmwareItem> items = board.items().all();
    if (json) {
        JsonWriter w(out);
        w.beginObject();
        writeItems(w, items, board);
        w.endObject();
        w.finish();
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
        JsonWriter w(out);
        w.beginArray();
        for (const CallRecord& call : calls)
            writeCall(w, call);
        w.endArray();
        w.finish();
        return;
    }
    for (const CallRecord& call : calls)
        out << '#' << call.sequence << ' ' << callText(call) << '\n';
}

void showBoard(Board& board, bool json, std::ostream& out) {
    BoardFacts facts = board.facts();
    const LedView view = board.inspect().ledView();
    const LedColour led = view.colour;
    const LedColour ecLed = board.inspect().ecColour();
    const std::vector<FirmwareItem> items = board.items().all();
    const BridgeFaults faults = board.bridge().faults();
    std::vector<CallRecord> calls = board.bridge().calls();
    if (calls.size() > 5)
        calls.erase(calls.begin(), calls.end() - 5);
    EcSnapshot ec = board.inspect().ec();
    std::uint32_t lock = board.inspect().globalLockWord();
    layout::FirmwareLockState firmware = board.firmwareLock().state();
    Pm1Registers pm1 = board.inspect().pm1();
    Counters counters = board.inspect().counters();
    std::uint32_t window[2] = {board.inspect().windowRegister(kWindowEnableOffsets[0]),
                               board.inspect().windowRegister(kWindowEnableOffsets[1])};

    if (json) {
        JsonWriter w(out);
        w.beginObject();
        w.value("image", std::filesystem::absolute(board.path()).string());
        w.value("product", facts.productName);
        w.beginObject("led")
            .value("red", led.red)
            .value("green", led.green)
            .value("blue", led.blue)
            .value("source", sourceName(view.source))
            .value("effect", effectName(view.effectWord))
            .value("effectWord", view.effectWord);
        w.endObject();
        writeItems(w, items, board);
        w.beginObject("bridge");
        w.beginArray("faults");
        for (const std::string& text : faultTexts(faults))
            w.value({}, text);
        w.endArray();
        w.beginArray("lastCalls");
        for (const CallRecord& call : calls)
            writeCall(w, call);
        w.endArray();
        w.endObject();
        w.beginObject("ec");
        w.value("bank", ec.bank).value("phase", phaseName(ec.phase));
        w.value("busyMode", busyName(ec.busyMode)).value("busyReadsLeft", ec.busyReadsLeft);
        w.beginObject("colourRegisters");
        w.value("0x53", board.inspect().ecRegister(0, kRedRegister));
        w.value("0x5D", board.inspect().ecRegister(0, kGreenRegister));
        w.value("0x5B", board.inspect().ecRegister(0, kBlueRegister));
        w.endObject().endObject();
        w.beginObject("globalLock");
        w.value("word", lock).value("owned", (lock & 2) != 0).value("pending", (lock & 1) != 0);
        w.value("firmware", firmwareName(firmware.phase)).value("firmwareHoldMs", firmware.holdMs);
        w.endObject();
        w.beginObject("pm1a");
        w.value("eventPort", facts.pm1aEventPort).value("controlPort", facts.pm1aControlPort);
        w.value("status", pm1.status).value("enable", pm1.enable).value("control", pm1.control);
        w.value("eventPlus0x30", pm1.chipset);
        w.endObject();
        w.beginObject("registerWindow").value("address", kRegisterWindowAddress);
        for (int i = 0; i < 2; ++i) {
            w.beginObject(hex(kWindowEnableOffsets[i], 3));
            w.value("value", window[i]);
            w.value("bit8", (window[i] & 0x100) != 0).value("bit9", (window[i] & 0x200) != 0);
            w.endObject();
        }
        w.endObject();
        w.beginObject("counters");
        for (const CounterField& field : kCounterFields)
            w.value(field.name, counters.*field.field);
        w.endObject();
        w.beginObject("tables");
        w.value("tableService", facts.tableService);
        w.value("firmwareDirectory", facts.firmwareDirectory.string());
        w.value("baseboards", std::uint64_t(facts.baseboards));
        w.value("smbiosEntryPoint", facts.smbiosEntryPoint);
        w.value("smbiosTableAddress", facts.smbiosTableAddress);
        w.value("smbiosTableLength", facts.smbiosTableLength);
        w.value("rsdp", facts.rsdpAddress).value("rsdt", facts.rsdtAddress);
        w.value("fadt", facts.fadtAddress).value("facs", facts.facsAddress);
        w.value("missingExport", facts.missingExport);
        w.endObject();
        w.endObject();
        w.finish();
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
    std::vector<TraceEntry> entries = board.inspect().trace();
    if (last && entries.size() > last)
        entries.erase(entries.begin(), entries.end() - std::ptrdiff_t(last));
    if (json) {
        JsonWriter w(out);
        w.beginArray();
        for (const TraceEntry& e : entries) {
            w.beginObject();
            w.value("sequence", e.sequence).value("timeNs", e.timeNs);
            w.value("kind", kindName(e.kind)).value("port", e.port).value("value", e.value);
            if (e.kind == TraceKind::RegisterWrite)
                w.value("bank", e.bank).value("register", e.reg).value("old", e.oldValue);
            w.endObject();
        }
        w.endArray();
        w.finish();
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
