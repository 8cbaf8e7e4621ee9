// Stands in for the companion utility: owns its main window in a process of its own,
// says through a named event when the window is up, answers the close request with
// its process id (so the caller can tell who answered) and then closes itself.
//
//   closer_companion <ready event name>
//
// The exit code tells the test what the window saw.
#include <windows.h>

namespace {

constexpr UINT kCloseRequest = WM_USER + 1;
constexpr UINT_PTR kGiveUpTimer = 1;
// A test that never sends the request must not leave this process behind.
constexpr UINT kGiveUpAfterMs = 60000;

enum ExitCode : int {
    kClosedOnRequest = 0,
    kSetupFailed = 1,
    kMalformedRequests = 2,
    kNeverAsked = 3,
};

int requests = 0;
bool requestsWellFormed = true;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kCloseRequest:
        ++requests;
        if (wParam != 0 || lParam != 0)
            requestsWellFormed = false;
        // Close after answering, as the real companion is asked to.
        PostMessageW(window, WM_CLOSE, 0, 0);
        return static_cast<LRESULT>(GetCurrentProcessId());
    case WM_TIMER:
        if (wParam == kGiveUpTimer)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (requests == 0)
            PostQuitMessage(kNeverAsked);
        else if (requests == 1 && requestsWellFormed)
            PostQuitMessage(kClosedOnRequest);
        else
            PostQuitMessage(kMalformedRequests);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return kSetupFailed;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (!ready)
        return kSetupFailed;

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TMainForm";
    if (!RegisterClassExW(&windowClass))
        return kSetupFailed;
    HWND window = CreateWindowExW(0, L"TMainForm", L"REZ_Aruvaz", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window || !SetTimer(window, kGiveUpTimer, kGiveUpAfterMs, nullptr))
        return kSetupFailed;
    SetEvent(ready);
    CloseHandle(ready);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
