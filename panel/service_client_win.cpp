// The service's automation object through COM: every call creates an object by the
// ProgID in a COM of its own (COM starts the registered server when none runs), uses
// one property and lets go again.

#include "com/LumivaneLib.h"
#include "panel/service_client.h"

#include <objbase.h>
#include <string>
#include <windows.h>

namespace panel {
namespace {

constexpr const wchar_t* kProgId = L"Lumivane.LightControl";

// The class of the ProgID. The version-independent ProgID names its class only
// through CurVer, which not every COM implementation follows by itself.
HRESULT classOf(CLSID& clsid) {
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (SUCCEEDED(hr))
        return hr;
    wchar_t current[128] = {};
    DWORD size = sizeof current;
    const std::wstring key = std::wstring(kProgId) + L"\\CurVer";
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, current,
                     &size) != ERROR_SUCCESS)
        return hr;
    return CLSIDFromProgID(current, &clsid);
}

// A local server that has just let go of its last object is on its way out, yet may
// still take the next request and then end under it; a second try starts a new one.
bool serverWentAway(HRESULT hr) {
    return hr == CO_E_SERVER_STOPPING || hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
           hr == RPC_E_SERVER_DIED_DNE || hr == CO_E_OBJNOTCONNECTED ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED);
}

// Runs `use` on a fresh object: its result, or the failure to make the object.
template <typename Use>
HRESULT onFreshObject(const CLSID& clsid, Use& use) {
    ILightControl* control = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl,
                                        reinterpret_cast<void**>(&control));
    if (hr != S_OK) {
        if (SUCCEEDED(hr))
            control->Release();
        // Wine's COM hands out the class of a server that is revoking it at that
        // moment, and the activation then fails with no more than E_FAIL. (From a
        // member, E_FAIL is the member's answer and is not retried.)
        if (hr == E_FAIL)
            return CO_E_SERVER_STOPPING;
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    const HRESULT result = use(*control);
    control->Release();
    return result;
}

// Runs `use` on a fresh object; false when the service cannot be reached.
template <typename Use>
bool withService(Use&& use) {
    const HRESULT initialised = CoInitialize(nullptr);
    HRESULT hr = E_FAIL;
    CLSID clsid;
    if (SUCCEEDED(classOf(clsid))) {
        hr = onFreshObject(clsid, use);
        if (serverWentAway(hr))
            hr = onFreshObject(clsid, use);
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return hr == S_OK;
}

} // namespace

std::int32_t ServiceClient::getServiceMode() const {
    const std::optional<std::int16_t> value = mode();
    return value ? std::int32_t(*value) : 0;
}

void ServiceClient::setServiceMode(std::int32_t mode) const {
    (void)setMode(static_cast<std::int16_t>(mode));
}

std::optional<std::uint32_t> ServiceClient::color() const {
    ULONG value = 0;
    if (!withService([&](ILightControl& control) { return control.get_Color(&value); }))
        return std::nullopt;
    return std::uint32_t(value);
}

bool ServiceClient::setColor(std::uint32_t value) const {
    return withService([&](ILightControl& control) { return control.put_Color(ULONG(value)); });
}

std::optional<std::int16_t> ServiceClient::mode() const {
    SHORT value = 0;
    if (!withService([&](ILightControl& control) { return control.get_Mode(&value); }))
        return std::nullopt;
    return std::int16_t(value);
}

bool ServiceClient::setMode(std::int16_t value) const {
    return withService([&](ILightControl& control) { return control.put_Mode(SHORT(value)); });
}

} // namespace panel
