// The bridge stand-in as the automation server COM starts, called through the
// programs' own item library: the ProgID, CoCreateInstance, IDispatch by name.
//
// The suite keeps one board at one path: a server that lingers after a test serves
// the next test's board, remade at the same place.

#include "board/acpi_bridge_win.h"
#include "board/acpi_exports.h"
#include "board/acpi_items.h"
#include "items_through_bridge.h"
#include "os/com_apartment.h"
#include "os/executable.h"
#include "package_reader.h"
#include "run_program.h"
#include "vboard.h"
#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"
#include "virtualboard/firmware.h"

#include <cstring>
#include <future>
#include <gmock/gmock.h>
#include <sstream>

namespace {

using namespace virtualboard;
using Bytes = std::vector<std::uint8_t>;

std::filesystem::path suiteDirectory() {
    return os::executablePath().value().parent_path() / "bridge-com";
}
std::filesystem::path imagePath() {
    return suiteDirectory() / "board.img";
}
std::filesystem::path vboardProgram() {
    return os::executablePath().value().parent_path() / LUMIVANE_VBOARD;
}

int vboard(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--image", imagePath().string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return vbtest::runProgram(vboardProgram(), all);
}

class ComBridge : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::filesystem::create_directories(suiteDirectory());
        ASSERT_EQ(vboard({"create"}), 0);
        // What the test set-up of a machine does once: the board's server under the ProgID.
        ASSERT_EQ(vboard({"bridge", "--register", "--linger", "1500"}), 0);
    }
    // The prefix is shared: other tests expect no bridge there.
    static void TearDownTestSuite() { EXPECT_EQ(vboard({"bridge", "--unregister"}), 0); }

    void SetUp() override {
        ASSERT_TRUE(apartment.ok());
        BoardOptions options;
        options.hostTemperature = false;
        options.temperature = 387;
        board = Board::create(imagePath(), options, suiteDirectory() / "firmware");
    }

    // What `vboard show` prints about the board.
    std::string show() {
        std::ostringstream out, err;
        EXPECT_EQ(vboard::runVboard({"--image", imagePath().string(), "show"}, out, err), 0)
            << err.str();
        return out.str();
    }

    // Calls the bridge's IDispatch directly, with arguments of the caller's choosing.
    HRESULT invokeDirectly(const wchar_t* method, std::vector<VARIANT> arguments) {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(L"tavlexCom.axdata", &clsid);
        if (FAILED(hr))
            return hr;
        IDispatch* dispatch = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&dispatch));
        if (FAILED(hr))
            return hr;
        VARIANT result;
        VariantInit(&result);
        hr = board::invokeByName(DISPATCH_METHOD, &result, dispatch, method, arguments);
        VariantClear(&result);
        dispatch->Release();
        return hr;
    }

    os::ComApartment apartment{os::ComApartment::Kind::MultiThreaded};
    std::unique_ptr<Board> board;
};

VARIANT unsignedValue(std::uint32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = value;
    return v;
}

TEST_F(ComBridge, ItemsAreWellFormedAndAFirmwareEffectLightsTheLeds) {
    vbtest::expectListedItemsWellFormed({0x06, 0x13});

    vbtest::expectItemModelDrivesTheFirmware(*board, 387, [&] { return show(); });
}

TEST_F(ComBridge, EveryMethodCrossesToTheServerAndLandsInTheCallLog) {
    EXPECT_EQ(AcpiInit(), 1);
    std::uint32_t value = 0;
    EXPECT_EQ(AcpiGetItem(kCpuTemperatureItem, &value), 1);
    EXPECT_EQ(value, 387u);
    value = 0;
    EXPECT_EQ(AcpiGetItemEx(0x06, 0x12, &value), 1);
    EXPECT_EQ(value, 387u);
    EXPECT_EQ(AcpiSetItem(kLightingOnItem, 0, 1), 1);
    EXPECT_EQ(board->readout().ledColor(), LedColor{});

    Bytes echoed = {1, 2, 3, 4, 5, 6};
    std::uint32_t length = 6;
    EXPECT_EQ(AcpiSetItemBuffer(0xDEADBEEF, 5, echoed.data(), &length), 1);
    EXPECT_EQ(echoed, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(length, 6u);

    Bytes info(256, 0);
    length = 256;
    EXPECT_EQ(AcpiMbif(info.data(), &length), 1);
    info.resize(length);
    auto package = vbtest::readPackage(info);
    ASSERT_TRUE(package);
    EXPECT_EQ(package->elements.at(1).text, "XR40-SUMMIT");

    Bytes list(4096, 0);
    length = 4096;
    EXPECT_EQ(AcpiGGrp(0x13, list.data(), &length), 1);
    EXPECT_GT(length, 8u);
    std::uint32_t code = vbtest::le32(list, 12); // the first listed item's method code
    Bytes descriptor(4096, 0);
    length = 4096;
    EXPECT_EQ(AcpiCallMethod(&code, descriptor.data(), &length), 1);
    EXPECT_TRUE(vbtest::readPackage(Bytes(descriptor.begin(), descriptor.begin() + length)));

    const std::vector<CallRecord> calls = board->bridge().calls();
    ASSERT_EQ(calls.size(), 8u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(BridgeMethod(calls[i].method), kBridgeMethods[i]) << i;
        EXPECT_EQ(calls[i].status, 0) << i;
    }
    EXPECT_EQ(calls[3].arguments[0], kLightingOnItem);
    EXPECT_EQ(calls[3].arguments[2], 1u);
    EXPECT_EQ(calls[4].arguments[0], 5u) << "the selector, not the ignored first argument";
    EXPECT_EQ(calls[4].lengthIn, 6u);
    EXPECT_EQ(calls[6].headerIn & 0xFF, 0xE1u);
    EXPECT_EQ(calls[6].lengthIn, 4096u);
    EXPECT_EQ(calls[7].arguments[0], code);
}

TEST_F(ComBridge, ALongerAnswerIsCutToWhatWentOutAndTheLengthTellsWhatCounts) {
    board::BridgeStatus status = 0;
    auto session = board::platformBridgeTransport().open(status);
    ASSERT_TRUE(session) << std::hex << status;
    board::BridgeByteArray array{Bytes(8, 0xAB)};
    std::uint32_t length = 8;
    std::vector<board::BridgeArgument> arguments = {
        board::BridgeIn{0x13}, board::BridgeBytes{&array}, board::BridgeLength{&length}};
    ASSERT_EQ(session->invoke("iAcpiGGrp", arguments), 0);
    ASSERT_TRUE(array.present);
    EXPECT_GT(length, 8u) << "the server sent a larger array";
    // The caller can take back no more than it sent: the rest is not kept.
    EXPECT_EQ(array.bytes.size(), 8u);

    BridgeFaults faults{};
    faults.shorten = 1;
    faults.shortenTo = 12;
    board->bridge().setFaults(faults);
    array.bytes.assign(4096, 0);
    length = 4096;
    ASSERT_EQ(session->invoke("iAcpiGGrp", arguments), 0);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(array.bytes.size(), 4096u) << "a shortened length leaves the array as it is";
}

TEST_F(ComBridge, OnlyTheBridgesOwnTypesAndCountsAreAccepted) {
    VARIANT signedId;
    VariantInit(&signedId);
    signedId.vt = VT_I4;
    signedId.lVal = LONG(kCpuTemperatureItem);
    ULONG result = 0;
    VARIANT out;
    VariantInit(&out);
    out.vt = VT_BYREF | VT_UI4;
    out.pulVal = &result;

    EXPECT_EQ(invokeDirectly(L"iAcpiGetItem", {unsignedValue(kCpuTemperatureItem), out}), S_OK);
    EXPECT_EQ(result, 387u);
    EXPECT_EQ(invokeDirectly(L"IACPIGETITEM", {unsignedValue(kCpuTemperatureItem), out}), S_OK)
        << "automation names are case-insensitive";
    EXPECT_EQ(invokeDirectly(L"iAcpiGetItem", {signedId, out}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(invokeDirectly(L"iAcpiGetItem", {unsignedValue(kCpuTemperatureItem)}),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(
        invokeDirectly(L"iAcpiGetItem", {unsignedValue(kCpuTemperatureItem), unsignedValue(0)}),
        DISP_E_TYPEMISMATCH)
        << "the result goes by reference";
    EXPECT_EQ(invokeDirectly(L"iAcpiSetItem",
                             {unsignedValue(kLightingOnItem), unsignedValue(0), signedId}),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(invokeDirectly(L"iAcpiReboot", {}), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(invokeDirectly(L"iAcpiGetItem", {unsignedValue(0x13069999), out}),
              HRESULT(kBridgeNoSuchItem));
    EXPECT_EQ(board->items().find(kLightingOnItem)->writes, 0u) << "a refused call writes nothing";
}

TEST_F(ComBridge, FaultKnobsProduceTheFaultsAClientSees) {
    BridgeFaults faults{};
    std::strcpy(faults.unknownMethod, "iAcpiGetItem");
    faults.failGroupSet = 1;
    faults.failGroup = 0x06;
    board->bridge().setFaults(faults);
    std::uint32_t value = 1234;
    EXPECT_EQ(AcpiGetItem(kCpuTemperatureItem, &value), 0);
    EXPECT_EQ(value, 1234u);
    Bytes list(64, 0x55);
    std::uint32_t length = 64;
    AcpiGGrp(0x06, list.data(), &length);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(list[8], 0x55) << "a group that cannot be enumerated lists nothing";

    faults = {};
    faults.malformedItem = kEffectWordItem;
    faults.malformedKind = std::uint32_t(MalformedKind::ElementCount);
    board->bridge().setFaults(faults);
    const std::optional<FirmwareItem> effect = board->items().find(kEffectWordItem);
    ASSERT_TRUE(effect);
    std::uint32_t code = effect->methodCode;
    Bytes descriptor(4096, 0);
    length = 4096;
    EXPECT_EQ(AcpiCallMethod(&code, descriptor.data(), &length), 1);
    EXPECT_FALSE(vbtest::readPackage(Bytes(descriptor.begin(), descriptor.begin() + length)));

    // Offline: to the client, a server that does not start; B[0] is not even written.
    faults = {};
    faults.offline = 1;
    board->bridge().setFaults(faults);
    EXPECT_EQ(AcpiInit(), 0);
    list.assign(64, 0x55);
    length = 64;
    EXPECT_EQ(AcpiGGrp(0x13, list.data(), &length), 0);
    EXPECT_EQ(list[0], 0x55);
    board->bridge().setFaults({});
    EXPECT_EQ(AcpiInit(), 1);

    // Not registered at all, then registered again.
    ASSERT_EQ(vboard({"bridge", "--unregister"}), 0);
    board::BridgeStatus status = 0;
    EXPECT_FALSE(board::platformBridgeTransport().open(status));
    EXPECT_LT(status, 0);
    EXPECT_EQ(AcpiInit(), 0);
    ASSERT_EQ(vboard({"bridge", "--register", "--linger", "1500"}), 0);
    EXPECT_EQ(AcpiInit(), 1);
}

TEST_F(ComBridge, ServedWithoutALingerTimeTheServerRunsUntilStopped) {
    // As `vboard bridge` started by hand, here on a thread: a stopped server revokes
    // its class, which a killed one never does.
    std::atomic<bool> stop{false};
    std::ostringstream err;
    auto served = std::async(std::launch::async,
                             [&] { return serveBridge(imagePath(), BridgeServing{}, stop, err); });
    EXPECT_EQ(served.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
    EXPECT_EQ(AcpiInit(), 1);
    stop = true;
    EXPECT_EQ(served.get(), 0) << err.str();
}

} // namespace
