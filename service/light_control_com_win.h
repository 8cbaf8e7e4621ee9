#pragma once

// The automation object of the service and its class factory. Every member hands
// over to service::LightControl, the code the D-Bus object runs on Linux; IDispatch
// is served from the type library built into the program.

#include "com/LumivaneLib.h"
#include "service/light_control.h"

#include <atomic>
#include <windows.h>

namespace service {

class ComModule;

// The service's identity for COM security and the service's registration.
inline constexpr GUID kLightControlAppId = {
    0xfaff09a7, 0xd8ec, 0x4433, {0x83, 0x97, 0x43, 0x1d, 0xb6, 0x16, 0xf5, 0xbe}};

class CLightControl final : public ILightControl {
public:
    // With `outer` the object is aggregated: inner() is its own IUnknown, and every
    // other interface gives the outer object's identity and count.
    CLightControl(LightControl control, ComModule& module, IUnknown* outer);
    CLightControl(const CLightControl&) = delete;
    CLightControl& operator=(const CLightControl&) = delete;

    IUnknown* inner() { return &inner_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override;

    HRESULT STDMETHODCALLTYPE get_Color(ULONG* value) override;
    HRESULT STDMETHODCALLTYPE put_Color(ULONG value) override;
    HRESULT STDMETHODCALLTYPE get_Mode(SHORT* value) override;
    HRESULT STDMETHODCALLTYPE put_Mode(SHORT value) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE get_Checked(SHORT* value) override;
    HRESULT STDMETHODCALLTYPE put_Checked(SHORT value) override;

private:
    // The object's own count and identity, apart from the outer object's.
    class Inner final : public IUnknown {
    public:
        explicit Inner(CLightControl& self) : self_(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CLightControl& self_;
    };

    ~CLightControl();

    LightControl control_;
    ComModule& module_;
    Inner inner_{*this};
    IUnknown* controlling_; // the outer object, or inner_
    std::atomic<ULONG> references_{1};
};

// One per process. COM holds it between registration and revocation; it does not
// count towards the module.
class LightControlFactory final : public IClassFactory {
public:
    explicit LightControlFactory(ComModule& module, LightControl control = {})
        : module_(module), control_(control) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ComModule& module_;
    LightControl control_;
};

} // namespace service
