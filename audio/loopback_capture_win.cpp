// The capture on Windows: shared-mode loopback of the default render endpoint,
// polled by a waitable timer at half the device period on a thread registered
// with the multimedia class scheduler. The run follows the default render endpoint:
// a new default ends it, and the owner's restart opens the new one.

#include "audio/loopback_capture_win.h"

#include "audio/loopback_capture.h"
#include "audio/mix_format_win.h"

// clang-format off
#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
// clang-format on

#include <mutex>

namespace service {

namespace {

std::mutex factoryMutex;
DeviceEnumeratorFactory enumeratorFactory; // under factoryMutex; empty: the system's

HRESULT createEnumerator(IMMDeviceEnumerator** enumerator) {
    DeviceEnumeratorFactory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = enumeratorFactory;
    }
    if (factory)
        return factory(enumerator);
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                            __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator));
}

// Tells the capture thread that another device became the default of its flow for
// the console role. Called on the audio service's threads: it only sets an event,
// which it owns, so a late call after the run has ended harms nothing.
class DefaultDeviceWatch final : public IMMNotificationClient {
public:
    explicit DefaultDeviceWatch(EDataFlow flow)
        : flow_(flow), changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    DefaultDeviceWatch(const DefaultDeviceWatch&) = delete;
    DefaultDeviceWatch& operator=(const DefaultDeviceWatch&) = delete;

    HANDLE changed() const { return changed_; }

    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == flow_ && role == eConsole)
            SetEvent(changed_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    ~DefaultDeviceWatch() {
        if (changed_)
            CloseHandle(changed_);
    }

    EDataFlow flow_;
    HANDLE changed_;
    std::atomic<long> references_{1};
};

} // namespace

DeviceEnumeratorFactory setDeviceEnumeratorFactory(DeviceEnumeratorFactory factory) {
    std::lock_guard lock(factoryMutex);
    std::swap(enumeratorFactory, factory);
    return factory;
}

struct LoopbackCapture::Platform {
    IMMDeviceEnumerator* enumerator = nullptr; // kept for the watch, from start to stop
    DefaultDeviceWatch* watch = nullptr;       // registered on the enumerator while set
    HRESULT lookup = S_OK;                     // the device lookup of the last start
    IMMDevice* device = nullptr;
    bool convertToInt16 = true;
    HANDLE startedEventCopy = nullptr;
    HANDLE stopEventCopy = nullptr;
    HANDLE thread = nullptr;
    HANDLE startedEvent = nullptr;
    HANDLE stopEvent = nullptr;
    // Manual-reset: set once the stream runs or the run has ended; streaming tells
    // which. Only waitStreaming looks at them.
    HANDLE settledEvent = nullptr;
    std::atomic<bool> streaming{false};
    std::atomic<bool> stopRequested{false};
    LoopbackCapture* owner = nullptr;

    static DWORD WINAPI captureThreadMain(LPVOID parameter);

    void closeEvents() {
        for (HANDLE* event : {&startedEvent, &stopEvent, &settledEvent}) {
            if (*event)
                CloseHandle(*event);
            *event = nullptr;
        }
        startedEventCopy = stopEventCopy = nullptr;
    }
    void releaseDevice() {
        if (device)
            device->Release();
        device = nullptr;
        // The enumerator must not go while our watch is registered on it.
        if (watch) {
            enumerator->UnregisterEndpointNotificationCallback(watch);
            watch->Release();
            watch = nullptr;
        }
        if (enumerator)
            enumerator->Release();
        enumerator = nullptr;
    }
    HRESULT openDefaultDevice(CaptureEndpoint endpoint);
};

namespace {

// Releases what the run holds, in reverse order of acquisition, whichever step it
// ended on.
struct RunResources {
    IAudioClient* client = nullptr;
    WAVEFORMATEX* format = nullptr;
    HANDLE timer = nullptr;
    IAudioCaptureClient* captureClient = nullptr;
    HANDLE mmcss = nullptr;
    bool started = false;
    bool timerArmed = false;

    ~RunResources() {
        if (started)
            client->Stop();
        if (timerArmed)
            CancelWaitableTimer(timer);
        if (mmcss)
            AvRevertMmThreadCharacteristics(mmcss);
        if (captureClient)
            captureClient->Release();
        if (timer)
            CloseHandle(timer);
        if (format)
            CoTaskMemFree(format);
        if (client)
            client->Release();
    }
};

HRESULT runCapture(IMMDevice* device, bool convertToInt16, HANDLE startedEvent, HANDLE stopEvent,
                   HANDLE defaultChanged, std::uint32_t* frameCount, CaptureEndpoint endpoint,
                   const PacketCallback& callback, LoopbackCapture::Platform& platform) {
    RunResources run;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(&run.client));
    if (FAILED(hr)) {
        capturePrint("IMMDevice::Activate(IAudioClient) failed: hr = 0x%08x", unsigned(hr));
        return hr;
    }

    REFERENCE_TIME period = 0;
    hr = run.client->GetDevicePeriod(&period, nullptr);
    if (FAILED(hr)) {
        capturePrint("IAudioClient::GetDevicePeriod failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }

    hr = run.client->GetMixFormat(&run.format);
    if (FAILED(hr)) {
        capturePrint("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }
    if (convertToInt16) {
        hr = coerceMixFormatToInt16(run.format);
        if (FAILED(hr))
            return hr;
    }
    const std::uint32_t channels = run.format->nChannels;

    run.timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    if (!run.timer) {
        const DWORD error = GetLastError();
        capturePrint("CreateWaitableTimer failed: last error = %u\n", unsigned(error));
        return HRESULT_FROM_WIN32(error);
    }

    *frameCount = 0;
    const DWORD streamFlags =
        endpoint == CaptureEndpoint::RenderLoopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0;
    hr = run.client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, 0, 0, run.format, nullptr);
    if (FAILED(hr)) {
        capturePrint("IAudioClient::Initialize failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }
    CoTaskMemFree(run.format);
    run.format = nullptr;

    hr = run.client->GetService(__uuidof(IAudioCaptureClient),
                                reinterpret_cast<void**>(&run.captureClient));
    if (FAILED(hr)) {
        capturePrint("IAudioClient::GetService(IAudioCaptureClient) failed: hr 0x%08x\n",
                     unsigned(hr));
        return hr;
    }

    DWORD taskIndex = 0;
    run.mmcss = AvSetMmThreadCharacteristicsW(L"Capture", &taskIndex);
    if (!run.mmcss) {
        const DWORD error = GetLastError();
        capturePrint("AvSetMmThreadCharacteristics failed: last error = %u\n", unsigned(error));
        return HRESULT_FROM_WIN32(error);
    }

    const auto period32 = static_cast<std::uint32_t>(period);
    LARGE_INTEGER due;
    due.QuadPart = -LONGLONG(period32 / 2);
    if (!SetWaitableTimer(run.timer, &due, captureTimerPeriodMs(period), nullptr, nullptr, FALSE)) {
        const DWORD error = GetLastError();
        capturePrint("SetWaitableTimer failed: last error = %u\n", unsigned(error));
        return HRESULT_FROM_WIN32(error);
    }
    run.timerArmed = true;

    hr = run.client->Start();
    if (FAILED(hr)) {
        capturePrint("IAudioClient::Start failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }
    run.started = true;

    SetEvent(startedEvent);
    platform.streaming = true;
    SetEvent(platform.settledEvent);
    std::uint32_t pass = 0;
    const HANDLE waitSet[] = {stopEvent, run.timer, defaultChanged};
    const DWORD waitCount = defaultChanged ? 3 : 2;
    for (;;) {
        UINT32 packetSize = 0;
        hr = run.captureClient->GetNextPacketSize(&packetSize);
        while (SUCCEEDED(hr) && packetSize != 0) {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            hr = run.captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
            if (FAILED(hr)) {
                capturePrint("IAudioCaptureClient::GetBuffer failed on pass %u after %u frames: "
                             "hr = 0x%08x\n",
                             pass, *frameCount, unsigned(hr));
                return hr;
            }
            if (frames == 0) {
                capturePrint("IAudioCaptureClient::GetBuffer said to read 0 frames on pass %u "
                             "after %u frames\n",
                             pass, *frameCount);
                return E_UNEXPECTED;
            }
            if (callback)
                callback(data, frames, flags, channels);
            *frameCount += frames;
            hr = run.captureClient->ReleaseBuffer(frames);
            if (FAILED(hr)) {
                capturePrint("IAudioCaptureClient::ReleaseBuffer failed on pass %u after %u "
                             "frames: hr = 0x%08x\n",
                             pass, *frameCount, unsigned(hr));
                return hr;
            }
            hr = run.captureClient->GetNextPacketSize(&packetSize);
        }
        if (FAILED(hr)) {
            capturePrint("IAudioCaptureClient::GetNextPacketSize failed on pass %u after %u "
                         "frames: hr = 0x%08x\n",
                         pass, *frameCount, unsigned(hr));
            return hr;
        }

        const DWORD waited = WaitForMultipleObjects(waitCount, waitSet, FALSE, INFINITE);
        if (waited == WAIT_OBJECT_0) {
            capturePrint("Received stop event after %u passes and %u frames\n", pass, *frameCount);
            return hr;
        }
        if (waited == WAIT_OBJECT_0 + 2) {
            capturePrint("The default output changed: the capture follows it after %u frames\n",
                         *frameCount);
            return kCaptureDefaultChanged;
        }
        if (waited != WAIT_OBJECT_0 + 1) {
            capturePrint("Unexpected WaitForMultipleObjects return value %u on pass %u after %u "
                         "frames\n",
                         unsigned(waited), pass, *frameCount);
            return E_UNEXPECTED;
        }
        ++pass;
    }
}

} // namespace

// The default endpoint of the capture's flow for the console role, with a watch for
// the next default on the enumerator that found it. The enumerator is kept: its
// watch lives as long as it does.
HRESULT LoopbackCapture::Platform::openDefaultDevice(CaptureEndpoint endpoint) {
    HRESULT hr = createEnumerator(&enumerator);
    if (FAILED(hr)) {
        enumerator = nullptr;
        capturePrint("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }
    const EDataFlow flow = endpoint == CaptureEndpoint::RenderLoopback ? eRender : eCapture;
    watch = new DefaultDeviceWatch(flow);
    hr = watch->changed() ? enumerator->RegisterEndpointNotificationCallback(watch) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        // Captures all the same; only a new default is not followed until a restart.
        capturePrint("IMMDeviceEnumerator::RegisterEndpointNotificationCallback failed: "
                     "hr = 0x%08x\n",
                     unsigned(hr));
        watch->Release();
        watch = nullptr;
    }
    hr = enumerator->GetDefaultAudioEndpoint(flow, eConsole, &device);
    if (FAILED(hr)) {
        device = nullptr;
        capturePrint("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n",
                     unsigned(hr));
        return hr;
    }
    return S_OK;
}

DWORD WINAPI LoopbackCapture::Platform::captureThreadMain(LPVOID parameter) {
    auto* capture = static_cast<Platform*>(parameter);
    LoopbackCapture& owner = *capture->owner;
    OutageReports::Scope reports(owner.reports_);
    HRESULT hr = FAILED(capture->lookup) ? capture->lookup : CoInitialize(nullptr);
    owner.result_ = hr;
    if (FAILED(capture->lookup)) {
        // Nothing to capture from (no device, or the audio service not up yet): the
        // run ends at once, and the owner retries as after any failed run.
    } else if (FAILED(hr)) {
        capturePrint("CoInitialize failed: hr = 0x%08x\n", unsigned(hr));
    } else {
        owner.result_ =
            runCapture(capture->device, capture->convertToInt16, capture->startedEventCopy,
                       capture->stopEventCopy, capture->watch ? capture->watch->changed() : nullptr,
                       &owner.frameCount_, owner.endpoint_, owner.callback_, *capture);
        CoUninitialize();
    }
    capture->streaming = false;
    SetEvent(capture->settledEvent);
    if (owner.runEnded_ && !capture->stopRequested)
        owner.runEnded_(owner.result_);
    return 0;
}

LoopbackCapture::LoopbackCapture(CaptureEndpoint endpoint)
    : endpoint_(endpoint), platform_(std::make_unique<Platform>()) {
    platform_->owner = this;
}

LoopbackCapture::~LoopbackCapture() {
    stop();
}

void LoopbackCapture::start() {
    Platform& p = *platform_;
    if (p.thread)
        return;
    OutageReports::Scope reports(reports_);
    p.startedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!p.startedEvent) {
        capturePrint("CreateEvent failed: last error is %u\n", unsigned(GetLastError()));
        return;
    }
    p.stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    p.settledEvent = p.stopEvent ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (!p.stopEvent || !p.settledEvent) {
        capturePrint("CreateEvent failed: last error is %u\n", unsigned(GetLastError()));
        p.closeEvents();
        return;
    }
    result_ = kCaptureUnexpected;
    p.releaseDevice();
    p.lookup = p.openDefaultDevice(endpoint_);
    if (FAILED(p.lookup))
        captureMessage("ERROR", "get_default_device failed!");
    p.convertToInt16 = true;
    frameCount_ = 0;
    p.streaming = false;
    p.stopRequested = false;
    p.startedEventCopy = p.startedEvent;
    p.stopEventCopy = p.stopEvent;
    p.thread = CreateThread(nullptr, 0, &Platform::captureThreadMain, &p, 0, nullptr);
    if (!p.thread) {
        capturePrint("CreateThread failed: last error is %u\n", unsigned(GetLastError()));
        p.closeEvents();
        p.releaseDevice();
    }
}

void LoopbackCapture::stop() {
    Platform& p = *platform_;
    if (!p.thread)
        return;
    OutageReports::Scope reports(reports_);
    p.stopRequested = true;
    SetEvent(p.stopEvent);
    WaitForSingleObject(p.thread, INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeThread(p.thread, &exitCode))
        capturePrint("GetExitCodeThread failed: last error is %u\n", unsigned(GetLastError()));
    else if (exitCode != 0)
        capturePrint("Loopback capture thread exit code is %u; expected 0\n", unsigned(exitCode));
    if (result_ != 0)
        capturePrint("Thread HRESULT is 0x%08x\n", unsigned(result_));
    CloseHandle(p.thread);
    p.thread = nullptr;
    p.closeEvents();
    p.releaseDevice();
}

bool LoopbackCapture::active() const {
    return platform_->thread != nullptr;
}

bool LoopbackCapture::waitStreaming(std::uint32_t milliseconds) const {
    const Platform& p = *platform_;
    if (!p.settledEvent)
        return false;
    WaitForSingleObject(p.settledEvent, milliseconds);
    return p.streaming;
}

} // namespace service
