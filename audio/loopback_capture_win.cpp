// The capture on Windows: shared-mode loopback of the default render endpoint,
// polled by a waitable timer at half the device period on a thread registered
// with the multimedia class scheduler.

#include "audio/loopback_capture.h"
#include "audio/mix_format_win.h"
#include "os/diagnostics.h"

// clang-format off
#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
// clang-format on

namespace service {

struct LoopbackCapture::Platform {
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
    }
};

namespace {

// The default render endpoint of the console role; the default capture endpoint
// instead when the test seam asks for it.
HRESULT getDefaultRenderDevice(CaptureEndpoint endpoint, IMMDevice** device) {
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr =
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
    if (FAILED(hr)) {
        capturePrint("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x%08x\n", unsigned(hr));
        return hr;
    }
    const EDataFlow flow = endpoint == CaptureEndpoint::RenderLoopback ? eRender : eCapture;
    hr = enumerator->GetDefaultAudioEndpoint(flow, eConsole, device);
    enumerator->Release();
    if (FAILED(hr)) {
        capturePrint("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n",
                     unsigned(hr));
        return hr;
    }
    return S_OK;
}

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
                   std::uint32_t* frameCount, CaptureEndpoint endpoint,
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
    const HANDLE waitSet[] = {stopEvent, run.timer};
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

        const DWORD waited = WaitForMultipleObjects(2, waitSet, FALSE, INFINITE);
        if (waited == WAIT_OBJECT_0) {
            capturePrint("Received stop event after %u passes and %u frames\n", pass, *frameCount);
            return hr;
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

DWORD WINAPI LoopbackCapture::Platform::captureThreadMain(LPVOID parameter) {
    auto* capture = static_cast<Platform*>(parameter);
    LoopbackCapture& owner = *capture->owner;
    HRESULT hr = CoInitialize(nullptr);
    owner.result_ = hr;
    if (FAILED(hr)) {
        capturePrint("CoInitialize failed: hr = 0x%08x\n", unsigned(hr));
    } else {
        owner.result_ = runCapture(capture->device, capture->convertToInt16,
                                   capture->startedEventCopy, capture->stopEventCopy,
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
    if (FAILED(getDefaultRenderDevice(endpoint_, &p.device))) {
        os::showMessage("ERROR", "get_default_device failed!");
        // Nothing to capture from: the capture stays idle, and the next start asks
        // for the device again.
        p.device = nullptr;
        p.closeEvents();
        return;
    }
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
