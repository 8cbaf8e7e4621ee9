#include "service/light_control_com_win.h"

#include "os/executable.h"
#include "os/long_path_win.h"
#include "service/com_module_win.h"

#include <new>

namespace service {
namespace {

struct TypeInfo {
    HRESULT status = E_FAIL;
    ITypeInfo* info = nullptr;
};

// Loaded once from the program's own file and kept for the life of the process:
// the objects come and go with every client call.
const TypeInfo& lightControlTypeInfo() {
    static const TypeInfo loaded = [] {
        TypeInfo result;
        const auto program = os::executablePath();
        if (!program) {
            result.status = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            return result;
        }
        ITypeLib* library = nullptr;
        result.status =
            LoadTypeLibEx(os::shortPathWhenLong(*program).c_str(), REGKIND_NONE, &library);
        if (FAILED(result.status))
            return result;
        result.status = library->GetTypeInfoOfGuid(IID_ILightControl, &result.info);
        library->Release();
        return result;
    }();
    return loaded;
}

// Nothing may unwind into COM, whose callers know only HRESULTs (and, across
// processes, the RPC runtime's C frames): a failure of ours in a member, memory most
// likely, is the member's failure, as it is for the Acpi* exports.
template <typename Call>
HRESULT fenced(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace

CLightControl::CLightControl(LightControl control, ComModule& module, IUnknown* outer)
    : control_(control), module_(module), controlling_(outer ? outer : &inner_) {
    module_.lock();
}

CLightControl::~CLightControl() {
    module_.unlock();
}

HRESULT CLightControl::Inner::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = this;
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(iid, IID_ILightControl) || IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<ILightControl*>(&self_);
        self_.AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CLightControl::Inner::AddRef() {
    return ++self_.references_;
}

ULONG CLightControl::Inner::Release() {
    const ULONG left = --self_.references_;
    if (left == 0)
        delete &self_;
    return left;
}

HRESULT CLightControl::QueryInterface(REFIID iid, void** object) {
    return controlling_->QueryInterface(iid, object);
}

ULONG CLightControl::AddRef() {
    return controlling_->AddRef();
}

ULONG CLightControl::Release() {
    return controlling_->Release();
}

HRESULT CLightControl::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT CLightControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    return fenced([&]() -> HRESULT {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        const TypeInfo& loaded = lightControlTypeInfo();
        if (FAILED(loaded.status))
            return loaded.status;
        loaded.info->AddRef();
        *info = loaded.info;
        return S_OK;
    });
}

HRESULT CLightControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return fenced([&]() -> HRESULT {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        const TypeInfo& loaded = lightControlTypeInfo();
        if (FAILED(loaded.status))
            return loaded.status;
        return DispGetIDsOfNames(loaded.info, names, count, ids);
    });
}

HRESULT CLightControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                              VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    return fenced([&]() -> HRESULT {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        const TypeInfo& loaded = lightControlTypeInfo();
        if (FAILED(loaded.status))
            return loaded.status;
        return DispInvoke(static_cast<ILightControl*>(this), loaded.info, id, flags, parameters,
                          result, exception, badArgument);
    });
}

HRESULT CLightControl::get_Color(ULONG* value) {
    return fenced([&]() -> HRESULT {
        if (!value)
            return E_POINTER;
        *value = control_.color();
        return S_OK;
    });
}

HRESULT CLightControl::put_Color(ULONG value) {
    return fenced([&]() -> HRESULT {
        control_.setColor(value);
        return S_OK;
    });
}

HRESULT CLightControl::get_Mode(SHORT* value) {
    return fenced([&]() -> HRESULT {
        if (!value)
            return E_POINTER;
        *value = control_.mode();
        return S_OK;
    });
}

HRESULT CLightControl::put_Mode(SHORT value) {
    return fenced([&]() -> HRESULT {
        control_.setMode(value);
        return S_OK;
    });
}

HRESULT CLightControl::Start() {
    return fenced([&]() -> HRESULT {
        control_.start();
        return S_OK;
    });
}

HRESULT CLightControl::Stop() {
    return fenced([&]() -> HRESULT {
        control_.stop();
        return S_OK;
    });
}

// Older clients read the value and ignore it; the output is left as the caller gave it.
HRESULT CLightControl::get_Checked(SHORT*) {
    return S_OK;
}

HRESULT CLightControl::put_Checked(SHORT value) {
    return fenced([&]() -> HRESULT {
        control_.setChecked(value);
        return S_OK;
    });
}

HRESULT LightControlFactory::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT LightControlFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    return fenced([&]() -> HRESULT {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        // An outer object can only hold the inner object's own IUnknown.
        if (outer && !IsEqualIID(iid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        auto* created = new (std::nothrow) CLightControl(control_, module_, outer);
        if (!created)
            return E_OUTOFMEMORY;
        IUnknown* inner = created->inner();
        const HRESULT hr = inner->QueryInterface(iid, object);
        inner->Release();
        return hr;
    });
}

HRESULT LightControlFactory::LockServer(BOOL lock) {
    return fenced([&]() -> HRESULT {
        if (lock)
            module_.lock();
        else
            module_.unlock();
        return S_OK;
    });
}

} // namespace service
