// The bridge as an out-of-process automation server, created afresh for each operation
// and called late-bound by method name.

#include "board/acpi_bridge_win.h"

#include "board/acpi_items.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace board {
namespace {

class ComBridgeSession final : public BridgeSession {
public:
    explicit ComBridgeSession(IDispatch* dispatch) : dispatch_(dispatch) {}
    ~ComBridgeSession() override {
        if (dispatch_)
            dispatch_->Release();
    }

    BridgeStatus invoke(std::string_view method, std::span<BridgeArgument> arguments) override;

private:
    IDispatch* dispatch_;
};

// One byte array on its way to the bridge and back: the local VARIANT the by-reference
// argument points at.
struct ArrayExchange {
    BridgeByteArray* array = nullptr;
    std::size_t sent = 0; // the bytes that went out: the most that is read back
    VARIANT local;
};

SAFEARRAY* makeArray(const std::vector<std::uint8_t>& bytes) {
    SAFEARRAYBOUND bound{ULONG(bytes.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_I1, 1, &bound);
    if (!array)
        return nullptr;
    if (!bytes.empty()) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            return nullptr;
        }
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    return array;
}

// What the bridge left in the local VARIANT: a one-dimensional array of single bytes,
// read no further than it reaches and no further than `limit` (what went out is all
// the caller can take back, whatever size the bridge made its array); none for
// anything else.
std::optional<std::vector<std::uint8_t>> readArray(const VARIANT& local, std::size_t limit) {
    if ((local.vt != (VT_ARRAY | VT_I1) && local.vt != (VT_ARRAY | VT_UI1)) || !local.parray)
        return std::nullopt;
    SAFEARRAY* array = local.parray;
    LONG lower = 0, upper = -1;
    if (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1 ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (upper >= lower) {
        bytes.resize(std::min<std::size_t>(std::size_t(std::int64_t(upper) - lower + 1), limit));
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data)))
            return std::nullopt;
        std::memcpy(bytes.data(), data, bytes.size());
        SafeArrayUnaccessData(array);
    }
    return bytes;
}

BridgeStatus ComBridgeSession::invoke(std::string_view method,
                                      std::span<BridgeArgument> arguments) {
    // Arrays first: their VARIANTs must stay where the arguments point.
    std::vector<ArrayExchange> exchanges;
    exchanges.reserve(arguments.size());
    for (BridgeArgument& argument : arguments) {
        if (auto* bytes = std::get_if<BridgeBytes>(&argument)) {
            ArrayExchange& exchange = exchanges.emplace_back();
            exchange.array = bytes->array;
            exchange.sent = bytes->array->bytes.size();
            VariantInit(&exchange.local);
            SAFEARRAY* array = makeArray(bytes->array->bytes);
            if (!array) {
                for (ArrayExchange& made : exchanges)
                    VariantClear(&made.local);
                bytes->array->present = false;
                return E_OUTOFMEMORY;
            }
            exchange.local.vt = VT_ARRAY | VT_I1;
            exchange.local.parray = array;
        }
    }

    std::vector<VARIANT> values(arguments.size());
    std::size_t nextExchange = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        VARIANT& v = values[i];
        VariantInit(&v);
        if (const auto* in = std::get_if<BridgeIn>(&arguments[i])) {
            v.vt = VT_UI4;
            v.ulVal = in->value;
        } else if (const auto* out = std::get_if<BridgeOut>(&arguments[i])) {
            v.vt = VT_BYREF | VT_UI4;
            v.pulVal = reinterpret_cast<ULONG*>(out->target);
        } else if (const auto* length = std::get_if<BridgeLength>(&arguments[i])) {
            v.vt = VT_BYREF | VT_UI4;
            v.pulVal = reinterpret_cast<ULONG*>(length->length);
        } else {
            v.vt = VT_BYREF | VT_VARIANT;
            v.pvarVal = &exchanges[nextExchange++].local;
        }
    }
    static_assert(sizeof(ULONG) == sizeof(std::uint32_t));

    const std::wstring name(method.begin(), method.end());
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = invokeByName(DISPATCH_METHOD, &result, dispatch_, name.c_str(), values);
    VariantClear(&result);

    for (ArrayExchange& exchange : exchanges) {
        auto bytes = readArray(exchange.local, exchange.sent);
        // Releasing the array is the last step of the exchange: one that cannot be
        // released was not a proper array.
        const bool released = SUCCEEDED(VariantClear(&exchange.local));
        if (bytes && released) {
            exchange.array->bytes = std::move(*bytes);
            exchange.array->present = true;
        } else {
            exchange.array->present = false;
        }
    }
    return hr;
}

class ComBridgeTransport final : public BridgeTransport {
public:
    std::unique_ptr<BridgeSession> open(BridgeStatus& status) override {
        const std::wstring progId(kAcpiBridgeName.begin(), kAcpiBridgeName.end());
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (FAILED(hr)) {
            status = hr;
            return nullptr;
        }
        IDispatch* dispatch = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&dispatch));
        status = hr;
        if (FAILED(hr) || !dispatch)
            return nullptr;
        return makeComBridgeSession(dispatch);
    }
};

} // namespace

HRESULT invokeByName(WORD flags, VARIANT* result, IDispatch* dispatch, const wchar_t* name,
                     std::span<const VARIANT> arguments) {
    if (!dispatch)
        return E_FAIL;
    DISPID id = 0;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;

    // Invoke takes its arguments last to first; one spare slot keeps the array non-empty.
    const std::size_t n = arguments.size();
    std::vector<VARIANT> slots(n + 1);
    for (VARIANT& slot : slots)
        VariantInit(&slot);
    for (std::size_t i = 0; i < n; ++i)
        slots[n - 1 - i] = arguments[i];

    DISPPARAMS parameters{slots.data(), nullptr, UINT(n), 0};
    DISPID namedPut = DISPID_PROPERTYPUT;
    if (flags & DISPATCH_PROPERTYPUT) {
        parameters.rgdispidNamedArgs = &namedPut;
        parameters.cNamedArgs = 1;
    }
    return dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &parameters, result,
                            nullptr, nullptr);
}

std::unique_ptr<BridgeSession> makeComBridgeSession(IDispatch* dispatch) {
    return std::make_unique<ComBridgeSession>(dispatch);
}

BridgeTransport& platformBridgeTransport() {
    static ComBridgeTransport* transport = new ComBridgeTransport;
    return *transport;
}

} // namespace board
