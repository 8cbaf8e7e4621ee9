// The automation transport against an IDispatch of the test's own: what Invoke receives
// (order, VARIANT types, the array and its length) and what comes back from it.

#include "board/acpi_bridge_win.h"
#include "board/acpi_items.h"
#include "board/acpi_package.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

using namespace board;

namespace {

// One argument as Invoke saw it, in the method's parameter order.
struct Received {
    VARTYPE type = VT_EMPTY;
    std::uint32_t value = 0;              // VT_UI4, or what a VT_BYREF|VT_UI4 pointed at
    VARTYPE arrayVariantType = VT_EMPTY;  // VT_BYREF|VT_VARIANT: the type of the VARIANT
    std::vector<std::uint8_t> arrayBytes; // ... and its array
    LONG lowerBound = -1;
};

class TestDispatch : public IDispatch {
public:
    // --- what the bridge does ---
    std::map<std::wstring, DISPID> names{
        {L"iAcpiGetItem", 1}, {L"iAcpiGGrp", 2}, {L"iAcpiSetItem", 3}, {L"iAcpiCallMethod", 4}};
    std::uint32_t itemValue = 0;
    std::vector<std::uint8_t> replyArray; // replaces the array when not empty
    std::optional<std::uint32_t> replyLength;
    bool clearArray = false; // leaves no array behind

    // --- what it saw ---
    LCID namesLocale = 0, invokeLocale = 0;
    WORD flags = 0;
    UINT namedArguments = 0;
    DISPID namedArgument = 0;
    DISPID invoked = 0;
    std::vector<Received> received;

    ULONG refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* requested, UINT count, LCID locale,
                                            DISPID* ids) override {
        namesLocale = locale;
        if (count != 1)
            return E_INVALIDARG;
        const auto found = names.find(requested[0]);
        if (found == names.end())
            return DISP_E_UNKNOWNNAME;
        ids[0] = found->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD invokeFlags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        invoked = id;
        invokeLocale = locale;
        flags = invokeFlags;
        namedArguments = parameters->cNamedArgs;
        if (parameters->cNamedArgs)
            namedArgument = parameters->rgdispidNamedArgs[0];
        received.clear();
        // Invoke's arguments arrive last first.
        for (UINT i = parameters->cArgs; i-- > 0;) {
            VARIANT& v = parameters->rgvarg[i];
            Received r;
            r.type = v.vt;
            if (v.vt == VT_UI4)
                r.value = v.ulVal;
            else if (v.vt == (VT_BYREF | VT_UI4))
                r.value = *v.pulVal;
            else if (v.vt == (VT_BYREF | VT_VARIANT)) {
                r.arrayVariantType = v.pvarVal->vt;
                if (v.pvarVal->vt & VT_ARRAY) {
                    SAFEARRAY* array = v.pvarVal->parray;
                    LONG upper = -1;
                    SafeArrayGetLBound(array, 1, &r.lowerBound);
                    SafeArrayGetUBound(array, 1, &upper);
                    void* data = nullptr;
                    SafeArrayAccessData(array, &data);
                    auto* bytes = static_cast<std::uint8_t*>(data);
                    r.arrayBytes.assign(bytes, bytes + (upper - r.lowerBound + 1));
                    SafeArrayUnaccessData(array);
                }
            }
            received.push_back(std::move(r));
        }
        // Answer: results through the by-reference slots, arrays replaced in place.
        for (UINT i = 0; i < parameters->cArgs; ++i) {
            VARIANT& v = parameters->rgvarg[i];
            if (v.vt == (VT_BYREF | VT_UI4) && id == 1)
                *v.pulVal = itemValue;
            if (v.vt == (VT_BYREF | VT_UI4) && id != 1 && replyLength)
                *v.pulVal = *replyLength;
            if (v.vt == (VT_BYREF | VT_VARIANT) && clearArray)
                VariantClear(v.pvarVal);
            if (v.vt == (VT_BYREF | VT_VARIANT) && !replyArray.empty()) {
                VariantClear(v.pvarVal);
                SAFEARRAYBOUND bound{ULONG(replyArray.size()), 0};
                SAFEARRAY* array = SafeArrayCreate(VT_I1, 1, &bound);
                void* data = nullptr;
                SafeArrayAccessData(array, &data);
                std::memcpy(data, replyArray.data(), replyArray.size());
                SafeArrayUnaccessData(array);
                v.pvarVal->vt = VT_ARRAY | VT_I1;
                v.pvarVal->parray = array;
            }
        }
        if (result) {
            result->vt = VT_I4;
            result->lVal = 1234; // never looked at
        }
        return S_OK;
    }

private:
    ULONG refs_ = 1;
};

class DispatchTransport : public BridgeTransport {
public:
    explicit DispatchTransport(TestDispatch& dispatch) : dispatch_(dispatch) {}
    std::unique_ptr<BridgeSession> open(BridgeStatus& status) override {
        status = S_OK;
        dispatch_.AddRef();
        return makeComBridgeSession(&dispatch_);
    }

private:
    TestDispatch& dispatch_;
};

class ComBridge : public ::testing::Test {
protected:
    TestDispatch dispatch;
    DispatchTransport transport{dispatch};
    AcpiItemLibrary library{transport};
};

} // namespace

TEST_F(ComBridge, ScalarsTravelAsUnsignedWordsAndReferences) {
    dispatch.itemValue = 456;
    std::uint32_t value = 0;
    EXPECT_EQ(library.getItem(0x06030012, &value), 1);
    EXPECT_EQ(value, 456u);
    EXPECT_EQ(dispatch.invoked, 1);
    EXPECT_EQ(dispatch.namesLocale, LCID(0x0400));
    EXPECT_EQ(dispatch.invokeLocale, LCID(0x0800));
    EXPECT_EQ(dispatch.flags, DISPATCH_METHOD);
    EXPECT_EQ(dispatch.namedArguments, 0u);
    ASSERT_EQ(dispatch.received.size(), 2u);
    EXPECT_EQ(dispatch.received[0].type, VT_UI4);
    EXPECT_EQ(dispatch.received[0].value, 0x06030012u);
    EXPECT_EQ(dispatch.received[1].type, VT_BYREF | VT_UI4);

    EXPECT_EQ(library.setItem(0x13060042, 0x00FF0001, 1), 1);
    ASSERT_EQ(dispatch.received.size(), 3u);
    EXPECT_EQ(dispatch.received[0].value, 0x13060042u);
    EXPECT_EQ(dispatch.received[1].value, 0x00FF0001u);
    EXPECT_EQ(dispatch.received[2].value, 1u);
    for (const Received& r : dispatch.received)
        EXPECT_EQ(r.type, VT_UI4);

    // Each operation released the object it was given.
    EXPECT_EQ(dispatch.refs(), 1u);
}

TEST_F(ComBridge, ArraysTravelAsSignedByteSafeArraysAndComeBackReplaced) {
    const std::vector<std::uint8_t> list = AcpiPackageBuilder().value(1).value(2).build();
    dispatch.replyArray = list;
    dispatch.replyLength = std::uint32_t(list.size());
    std::vector<std::uint8_t> buffer(4096, 0x66);
    std::uint32_t length = 4096;
    EXPECT_EQ(library.gGrp(0x13, buffer.data(), &length), 1);

    ASSERT_EQ(dispatch.received.size(), 3u);
    EXPECT_EQ(dispatch.received[0].type, VT_UI4);
    EXPECT_EQ(dispatch.received[0].value, 0x13u);
    EXPECT_EQ(dispatch.received[1].type, VT_BYREF | VT_VARIANT);
    EXPECT_EQ(dispatch.received[1].arrayVariantType, VT_ARRAY | VT_I1);
    EXPECT_EQ(dispatch.received[1].lowerBound, 0);
    ASSERT_EQ(dispatch.received[1].arrayBytes.size(), 4096u);
    EXPECT_EQ(dispatch.received[1].arrayBytes[0], kGroupRequestMarker);
    EXPECT_EQ(dispatch.received[1].arrayBytes[4095], 0x66);
    EXPECT_EQ(dispatch.received[2].type, VT_BYREF | VT_UI4);
    EXPECT_EQ(dispatch.received[2].value, 4096u);

    EXPECT_EQ(length, list.size());
    EXPECT_TRUE(std::equal(list.begin(), list.end(), buffer.begin()));
    EXPECT_EQ(buffer[list.size()], 0x66);
    EXPECT_EQ(dispatch.refs(), 1u);

    // A returned array shorter than the reported length is read no further than it holds.
    dispatch.replyArray = {9, 9};
    dispatch.replyLength = 100;
    std::uint32_t code = 0x77;
    length = 50;
    std::vector<std::uint8_t> small(50, 0x01);
    EXPECT_EQ(library.callMethod(&code, small.data(), &length), 1);
    EXPECT_EQ(dispatch.received[0].value, 0x77u);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(small[1], 9);
    EXPECT_EQ(small[2], 0x01);
}

TEST_F(ComBridge, UnknownNamesAndMissingArrays) {
    std::uint32_t value = 3;
    dispatch.names.erase(L"iAcpiGetItem");
    EXPECT_EQ(library.getItem(1, &value), 0);
    EXPECT_EQ(value, 3u);

    // The buffer operation copies its own array back and succeeds.
    std::vector<std::uint8_t> buffer{1, 2, 3, 4};
    std::uint32_t length = 4;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(dispatch.received.empty()); // Invoke was never reached

    // The bridge takes the array away: nothing is copied and the operation fails.
    dispatch.clearArray = true;
    std::uint32_t code = 1;
    EXPECT_EQ(library.callMethod(&code, buffer.data(), &length), 0);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(dispatch.refs(), 1u);
}

TEST_F(ComBridge, InvokeByNameHandlesPropertyPutAndNoObject) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_UI4;
    argument.ulVal = 5;
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(invokeByName(DISPATCH_PROPERTYPUT, &result, &dispatch, L"iAcpiSetItem",
                           std::span<const VARIANT>(&argument, 1)),
              S_OK);
    EXPECT_EQ(dispatch.namedArguments, 1u);
    EXPECT_EQ(dispatch.namedArgument, DISPID_PROPERTYPUT);
    VariantClear(&result);
    EXPECT_EQ(invokeByName(DISPATCH_METHOD, &result, nullptr, L"iAcpiSetItem", {}), E_FAIL);
    EXPECT_EQ(invokeByName(DISPATCH_METHOD, &result, &dispatch, L"iAcpiNothing", {}),
              DISP_E_UNKNOWNNAME);
}
