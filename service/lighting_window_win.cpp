#include "service/lighting_window_win.h"

#include "os/com_apartment.h"
#include "service/led_controller.h"
#include "service/power_events.h"

#include <thread>
#include <windows.h>

namespace service {
namespace {

// The controller's work for an event runs here, never inside the window procedure:
// see PowerEventQueue. Made on first use and never destroyed, like the controller.
PowerEventQueue& powerEvents() {
    static PowerEventQueue* const queue = new PowerEventQueue(
        [](std::uint32_t event) { LedController::instance().handlePowerBroadcast(event); },
        [] { os::ComApartment::enterForThread(); });
    return *queue;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_POWERBROADCAST:
        powerEvents().post(std::uint32_t(wParam));
        return DefWindowProcW(window, message, wParam, lParam);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND createWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));     // IDI_APPLICATION
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kLightingWindowName;
    RegisterClassExW(&windowClass);
    HWND window =
        CreateWindowExW(0, kLightingWindowName, kLightingWindowName, WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (window) {
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
    }
    return window;
}

// Set once the controller is made; never closed.
HANDLE controllerMade() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

} // namespace

void startLightingThread() {
    controllerMade();
    std::thread([] {
        os::ComApartment::enterForThread();
        LedController::instance();
        SetEvent(controllerMade());
        powerEvents();
        createWindow();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }).detach();
}

void waitForLightingController(unsigned long limitMs) {
    WaitForSingleObject(controllerMade(), limitMs);
}

} // namespace service
