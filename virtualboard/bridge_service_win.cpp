// The ACPI bridge stand-in as an out-of-process automation server. COM starts
// `vboard bridge -Embedding` for the class registered under the ProgID; clients create
// an object per operation and call its methods late-bound by name through IDispatch.

#include "board/acpi_bridge.h"
#include "os/text_win.h"
#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <ole2.h>
#include <optional>
#include <ostream>
#include <servprov.h>
#include <span>
#include <stdexcept>
#include <vector>
#include <windows.h>

namespace virtualboard {

namespace {

// The stand-in's own class; clients know only the ProgID.
constexpr CLSID kBridgeClassId = {
    0x3193bede, 0x8359, 0x48aa, {0x87, 0x77, 0x28, 0xe2, 0x5c, 0x33, 0xf6, 0x49}};
constexpr const wchar_t* kBridgeDescription = L"Lumivane virtual board ACPI bridge";

// How long a poll of the stop flag waits when nothing happens.
constexpr DWORD kStopPeriodMs = 20;

// What the server process shares between its objects: one board call at a time, and
// the count of objects and locks that decides when it may end.
class Server {
public:
    explicit Server(std::filesystem::path image) : image_(std::move(image)) {}

    const std::filesystem::path& image() const { return image_; }
    std::mutex& calls() { return calls_; }

    void hold() {
        std::lock_guard lock(mutex_);
        ++holds_;
    }
    void letGo() {
        {
            std::lock_guard lock(mutex_);
            if (holds_ > 0) // an unmatched LockServer(FALSE) takes nothing away
                --holds_;
            idleSince_ = std::chrono::steady_clock::now();
        }
        changed_.notify_all();
    }

    // Waits until the server has been idle for `linger`, or until `stop`; without a
    // linger time, only for `stop`.
    void waitForIdle(std::optional<std::chrono::milliseconds> linger,
                     const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        while (!stop.load()) {
            if (linger && holds_ == 0 && std::chrono::steady_clock::now() - idleSince_ >= *linger)
                return;
            changed_.wait_for(lock, std::chrono::milliseconds(kStopPeriodMs));
        }
    }
    // Waits for the objects still out there (a client that raced the revocation).
    void waitForNone(const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        while (holds_ > 0 && !stop.load())
            changed_.wait_for(lock, std::chrono::milliseconds(kStopPeriodMs));
    }

private:
    std::filesystem::path image_;
    std::mutex calls_;
    std::mutex mutex_;
    std::condition_variable changed_;
    long holds_ = 0;
    std::chrono::steady_clock::time_point idleSince_ = std::chrono::steady_clock::now();
};

// An argument the caller got wrong: its position in rgvarg and the HRESULT to give.
struct ArgumentFault {
    HRESULT status;
    UINT position;
};

// The arguments of one Invoke in the method's parameter order (rgvarg holds them last
// to first), checked against the types the bridge takes.
class Arguments {
public:
    explicit Arguments(const DISPPARAMS& parameters) : parameters_(parameters) {}

    std::uint32_t in(UINT i) const {
        const VARIANT& v = at(i);
        if (v.vt != VT_UI4)
            throw ArgumentFault{DISP_E_TYPEMISMATCH, position(i)};
        return v.ulVal;
    }
    ULONG* out(UINT i) const {
        const VARIANT& v = at(i);
        if (v.vt != (VT_BYREF | VT_UI4) || !v.pulVal)
            throw ArgumentFault{DISP_E_TYPEMISMATCH, position(i)};
        return v.pulVal;
    }
    // The caller's array VARIANT: a one-dimensional array of single bytes.
    VARIANT* array(UINT i) const {
        const VARIANT& v = at(i);
        if (v.vt != (VT_BYREF | VT_VARIANT) || !v.pvarVal)
            throw ArgumentFault{DISP_E_TYPEMISMATCH, position(i)};
        VARIANT* local = v.pvarVal;
        if (local->vt != (VT_ARRAY | VT_I1) || !local->parray ||
            SafeArrayGetDim(local->parray) != 1 || SafeArrayGetElemsize(local->parray) != 1)
            throw ArgumentFault{DISP_E_TYPEMISMATCH, position(i)};
        return local;
    }

private:
    UINT position(UINT i) const { return parameters_.cArgs - 1 - i; }
    const VARIANT& at(UINT i) const { return parameters_.rgvarg[position(i)]; }

    const DISPPARAMS& parameters_;
};

std::size_t elementCount(SAFEARRAY* array) {
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)) || upper < lower)
        return 0;
    return std::size_t(std::int64_t(upper) - lower + 1);
}

// None when the array cannot be read (another party holds it locked).
std::optional<std::vector<std::uint8_t>> bytesOf(SAFEARRAY* array) {
    std::vector<std::uint8_t> bytes(elementCount(array));
    if (bytes.empty())
        return bytes;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data)))
        return std::nullopt;
    std::memcpy(bytes.data(), data, bytes.size());
    SafeArrayUnaccessData(array);
    return bytes;
}

// Writes the answer into the caller's array, replacing the array when the answer
// does not fit it.
HRESULT giveBack(VARIANT* local, const std::vector<std::uint8_t>& bytes) {
    SAFEARRAY* array = local->parray;
    if (bytes.size() != elementCount(array)) {
        SAFEARRAYBOUND bound{ULONG(bytes.size()), 0};
        SAFEARRAY* replacement = SafeArrayCreate(VT_I1, 1, &bound);
        if (!replacement)
            return E_OUTOFMEMORY;
        VariantClear(local);
        local->vt = VT_ARRAY | VT_I1;
        local->parray = replacement;
        array = replacement;
    }
    if (bytes.empty())
        return S_OK;
    void* data = nullptr;
    const HRESULT hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr))
        return hr;
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    return S_OK;
}

constexpr UINT argumentCount(BridgeMethod method) {
    switch (method) {
    case BridgeMethod::Init:
        return 0;
    case BridgeMethod::Mbif:
    case BridgeMethod::GetItem:
        return 2;
    case BridgeMethod::GetItemEx:
    case BridgeMethod::SetItem:
    case BridgeMethod::SetItemBuffer:
    case BridgeMethod::GGrp:
    case BridgeMethod::CallMethod:
        return 3;
    }
    return 0;
}

class BridgeObject final : public IDispatch {
public:
    BridgeObject(Server& server, std::unique_ptr<AcpiBridgeStandIn> bridge)
        : server_(server), bridge_(std::move(bridge)) {
        server_.hold();
    }
    ~BridgeObject() { server_.letGo(); }
    BridgeObject(const BridgeObject&) = delete;
    BridgeObject& operator=(const BridgeObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    // No type information: the bridge is called late-bound, by name.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        // The methods take no named arguments.
        for (UINT i = 1; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        ids[0] = DISPID_UNKNOWN;
        const std::string name = names[0] ? os::narrow(names[0]) : std::string();
        for (BridgeMethod method : kBridgeMethods) {
            const std::string_view candidate = bridgeMethodName(method);
            // Automation names are case-insensitive.
            if (name.size() == candidate.size() &&
                CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(), int(name.size()),
                               candidate.data(), int(candidate.size())) == CSTR_EQUAL) {
                if (hidden(method))
                    return DISP_E_UNKNOWNNAME;
                ids[0] = DISPID(method);
                break;
            }
        }
        if (ids[0] == DISPID_UNKNOWN || count > 1)
            return DISP_E_UNKNOWNNAME;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                                     UINT* badArgument) override {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        const auto method = methodOf(id);
        if (!method || !(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (!parameters)
            return E_INVALIDARG;
        if (parameters->cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
        if (parameters->cArgs != argumentCount(*method))
            return DISP_E_BADPARAMCOUNT;
        if (result)
            VariantInit(result);
        try {
            std::lock_guard lock(server_.calls());
            return call(*method, Arguments(*parameters));
        } catch (const ArgumentFault& fault) {
            if (badArgument)
                *badArgument = fault.position;
            return fault.status;
        } catch (const BridgeCallError& error) {
            // A method hidden by the knob after its name was looked up.
            return error.status() == kBridgeUnknownMethod ? DISP_E_MEMBERNOTFOUND
                                                          : HRESULT(error.status());
        } catch (const BoardError&) {
            return E_FAIL;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    static std::optional<BridgeMethod> methodOf(DISPID id) {
        for (BridgeMethod method : kBridgeMethods)
            if (DISPID(method) == id)
                return method;
        return std::nullopt;
    }

    bool hidden(BridgeMethod method) {
        std::lock_guard lock(server_.calls());
        try {
            const BridgeFaults faults = bridge_->board().bridge().faults();
            return bridgeMethodName(method) ==
                   std::string_view(faults.unknownMethod,
                                    strnlen(faults.unknownMethod, sizeof faults.unknownMethod));
        } catch (const BoardError&) {
            return false; // the call itself will report the board
        }
    }

    // Buffer methods: the array and its length are the last two arguments.
    template <class F>
    HRESULT exchange(const Arguments& arguments, UINT first, F&& run) {
        VARIANT* local = arguments.array(first);
        ULONG* length = arguments.out(first + 1);
        std::optional<std::vector<std::uint8_t>> sent = bytesOf(local->parray);
        if (!sent)
            return E_UNEXPECTED;
        BridgeBuffer answer = run(BridgeBuffer{std::move(*sent), *length});
        const HRESULT hr = giveBack(local, answer.bytes);
        if (SUCCEEDED(hr))
            *length = answer.length;
        return hr;
    }

    HRESULT call(BridgeMethod method, const Arguments& arguments) {
        AcpiBridgeStandIn& bridge = *bridge_;
        switch (method) {
        case BridgeMethod::Init:
            bridge.init();
            return S_OK;
        case BridgeMethod::GetItem: {
            ULONG* value = arguments.out(1);
            *value = bridge.getItem(arguments.in(0));
            return S_OK;
        }
        case BridgeMethod::GetItemEx: {
            const std::uint32_t a = arguments.in(0), b = arguments.in(1);
            ULONG* value = arguments.out(2);
            *value = bridge.getItemEx(a, b);
            return S_OK;
        }
        case BridgeMethod::SetItem:
            bridge.setItem(arguments.in(0), arguments.in(1), arguments.in(2));
            return S_OK;
        case BridgeMethod::SetItemBuffer: {
            const std::uint32_t selector = arguments.in(0);
            return exchange(arguments, 1, [&](BridgeBuffer buffer) {
                return bridge.setItemBuffer(selector, std::move(buffer));
            });
        }
        case BridgeMethod::Mbif:
            return exchange(arguments, 0,
                            [&](BridgeBuffer buffer) { return bridge.mbif(std::move(buffer)); });
        case BridgeMethod::GGrp: {
            const std::uint32_t group = arguments.in(0);
            return exchange(arguments, 1, [&](BridgeBuffer buffer) {
                return bridge.gGrp(group, std::move(buffer));
            });
        }
        case BridgeMethod::CallMethod: {
            const std::uint32_t code = arguments.in(0);
            return exchange(arguments, 1, [&](BridgeBuffer buffer) {
                return bridge.callMethod(code, std::move(buffer));
            });
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    Server& server_;
    std::unique_ptr<AcpiBridgeStandIn> bridge_;
    LONG references_ = 1;
};

// Lives on the stack of serveBridge; COM holds it only between registration and
// revocation.
class BridgeFactory final : public IClassFactory {
public:
    explicit BridgeFactory(Server& server) : server_(server) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        std::unique_ptr<AcpiBridgeStandIn> bridge;
        try {
            std::lock_guard lock(server_.calls());
            // Each object opens the board afresh, so an idle server keeps no image
            // open and a replaced image is simply the next object's board.
            bridge = std::make_unique<AcpiBridgeStandIn>(server_.image());
            // The offline knob: to the client, a server that does not start.
            if (!bridge->online())
                return CO_E_SERVER_EXEC_FAILURE;
        } catch (const BoardError&) {
            return CO_E_SERVER_EXEC_FAILURE;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        auto* created = new (std::nothrow) BridgeObject(server_, std::move(bridge));
        if (!created)
            return E_OUTOFMEMORY;
        const HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            server_.hold();
        else
            server_.letGo();
        return S_OK;
    }

private:
    Server& server_;
};

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

void setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    const LSTATUS status =
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot write HKEY_CLASSES_ROOT\\" + os::narrow(key) + ": error " +
                                 std::to_string(status));
}

void deleteTree(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        throw std::runtime_error("cannot remove HKEY_CLASSES_ROOT\\" + os::narrow(key) +
                                 ": error " + std::to_string(status));
    // RegDeleteTree leaves the key itself.
    const LSTATUS removed = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        throw std::runtime_error("cannot remove HKEY_CLASSES_ROOT\\" + os::narrow(key) +
                                 ": error " + std::to_string(removed));
}

// Wine's COM, when the last stub of an interface in the process goes, unregisters
// that interface from RPC and waits for its calls to end, holding the lock that any
// call handing out an object needs. The class's activation interface goes that way
// when the class is revoked while a client activates it, and the bridge and the
// client then wait for each other for ever. An object of our own, marshalled for the
// server's whole life under each interface a client reaches here, keeps them
// registered. It holds no board and does not count as a client.
class InterfaceKeeper final : public IDispatch, public IServiceProvider {
public:
    InterfaceKeeper() {
        for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IServiceProvider}) {
            IStream* stream = nullptr;
            if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
                continue;
            if (SUCCEEDED(CoMarshalInterface(stream, *iid, static_cast<IDispatch*>(this),
                                             MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG)))
                streams_.push_back(stream);
            else
                stream->Release();
        }
    }
    ~InterfaceKeeper() {
        for (IStream* stream : streams_) {
            const LARGE_INTEGER start{};
            stream->Seek(start, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(stream);
            stream->Release();
        }
    }
    InterfaceKeeper(const InterfaceKeeper&) = delete;
    InterfaceKeeper& operator=(const InterfaceKeeper&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
            *object = static_cast<IDispatch*>(this);
        else if (IsEqualIID(iid, IID_IServiceProvider))
            *object = static_cast<IServiceProvider*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID, void** object) override {
        if (object)
            *object = nullptr;
        return E_NOTIMPL;
    }

private:
    std::vector<IStream*> streams_;
};

} // namespace

int serveBridge(const std::filesystem::path& image, const BridgeServing& serving,
                const std::atomic<bool>& stop, std::ostream& err) {
    // Outlives COM: objects a client still holds at the end are released by
    // CoUninitialize, and they let go of the server as they go.
    Server server(image);
    BridgeFactory factory(server);
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialised)) {
        err << "vboard: bridge: COM cannot be initialised (0x" << std::hex << initialised
            << std::dec << ")\n";
        return 1;
    }
    int status = 0;
    {
        const InterfaceKeeper keeper; // gone before CoUninitialize
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(kBridgeClassId, &factory, CLSCTX_LOCAL_SERVER,
                                                 REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) {
            err << "vboard: bridge: cannot offer the class (0x" << std::hex << hr << std::dec
                << ")\n";
            status = 1;
        } else {
            server.waitForIdle(serving.linger, stop);
            CoRevokeClassObject(cookie);
            server.waitForNone(stop);
        }
    }
    CoUninitialize();
    return status;
}

void registerBridgeServer(const std::filesystem::path& program, const std::string& arguments) {
    const std::wstring clsid = guidText(kBridgeClassId);
    const std::wstring progId = os::widen(std::string(board::kAcpiBridgeName));
    const std::wstring classKey = L"CLSID\\" + clsid;
    std::wstring command = L"\"" + program.wstring() + L"\"";
    if (!arguments.empty())
        command += L" " + os::widen(arguments);
    setValue(progId, nullptr, kBridgeDescription);
    setValue(progId + L"\\CLSID", nullptr, clsid);
    setValue(classKey, nullptr, kBridgeDescription);
    setValue(classKey + L"\\ProgID", nullptr, progId);
    setValue(classKey + L"\\LocalServer32", nullptr, command);
}

void unregisterBridgeServer() {
    deleteTree(os::widen(std::string(board::kAcpiBridgeName)));
    deleteTree(L"CLSID\\" + guidText(kBridgeClassId));
}

} // namespace virtualboard
