#include "os/event.h"
#include "os/executable.h"
#include "os/library.h"
#include "os/text_win.h"

#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

constexpr UINT kCloseRequest = 0x401;
constexpr wchar_t kCompanionClass[] = L"TMainForm";
constexpr wchar_t kOtherClass[] = L"TOtherForm";
constexpr wchar_t kCompanionTitle[] = L"REZ_Aruvaz";

// How long a test waits for another thread or process before calling it a failure.
constexpr DWORD kPatienceMs = 20000;

// An answer that only comes back intact if the whole pointer-sized result does.
constexpr LRESULT kWideAnswer = sizeof(LRESULT) == 8 ? static_cast<LRESULT>(0x1234'5678'9ABC'DEF0LL)
                                                     : static_cast<LRESULT>(0x7ABC'DEF0L);

// The two ways an outside 32-bit program may declare the function; on 64-bit
// Windows they are the same.
using CdeclCloser = LRESULT(__cdecl*)();
using StdcallCloser = LRESULT(__stdcall*)();

// Loaded the way outside programs load it: by bare name, found beside the executable.
const os::Library& haltmod() {
    static const os::Library library = os::Library::open("Haltmod.dll");
    return library;
}

CdeclCloser closeTundrapack() {
    return haltmod().function<CdeclCloser>("CloseTundrapack");
}

// A window of a given class and title that counts the close requests it receives
// and answers each with its own value.
class RecordingWindow {
public:
    RecordingWindow(const wchar_t* className, const wchar_t* title, LRESULT answer,
                    HWND parent = nullptr)
        : answer_(answer) {
        registerClass(className);
        DWORD style = parent ? WS_CHILD : WS_OVERLAPPEDWINDOW;
        handle_ = CreateWindowExW(0, className, title, style, 0, 0, 200, 100, parent, nullptr,
                                  GetModuleHandleW(nullptr), this);
    }
    ~RecordingWindow() {
        if (handle_)
            DestroyWindow(handle_);
    }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    HWND handle() const { return handle_; }
    LRESULT answer() const { return answer_; }
    void setAnswer(LRESULT answer) { answer_ = answer; }
    int requests() const { return requests_; }
    // Every request so far came with both parameters 0.
    bool requestsWellFormed() const { return wellFormed_; }

private:
    static void registerClass(const wchar_t* className) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        // A second registration of the same class fails harmlessly.
        RegisterClassExW(&windowClass);
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == kCloseRequest) {
            ++self->requests_;
            if (wParam != 0 || lParam != 0)
                self->wellFormed_ = false;
            return self->answer_;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::atomic<LRESULT> answer_;
    std::atomic<int> requests_{0};
    std::atomic<bool> wellFormed_{true};
    HWND handle_ = nullptr;
};

// A companion window owned by a thread of its own that pumps messages until the
// object goes.
class WindowOnItsOwnThread {
public:
    explicit WindowOnItsOwnThread(LRESULT answer) : thread_([this, answer] { run(answer); }) {}
    ~WindowOnItsOwnThread() {
        up_.wait();
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

    bool waitUntilUp() { return up_.wait(kPatienceMs) == os::Event::WaitResult::Signalled; }
    const RecordingWindow& window() const { return *window_; }

private:
    void run(LRESULT answer) {
        window_.emplace(kCompanionClass, kCompanionTitle, answer);
        threadId_ = GetCurrentThreadId();
        MSG message;
        // The queue has to exist before the owner is told to post the quit to it.
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        up_.set();
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        window_.reset(); // a window is destroyed by the thread that owns it
    }

    os::Event up_{os::Event::Reset::Manual};
    std::optional<RecordingWindow> window_;
    std::atomic<DWORD> threadId_{0};
    std::thread thread_; // last: it starts using the members above at once
};

// Ends a child process the test could not bring to its own end, and closes handles.
class ChildProcess {
public:
    explicit ChildProcess(const PROCESS_INFORMATION& info) : info_(info) {}
    ~ChildProcess() {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

private:
    PROCESS_INFORMATION info_;
};

} // namespace

TEST(Haltmod, LoadsByNameAndExportsTheFunctionByNameAndAsOrdinalOne) {
    ASSERT_TRUE(haltmod().isLoaded()) << "Haltmod.dll not found beside the test program";
    HMODULE module = GetModuleHandleW(L"Haltmod.dll");
    ASSERT_NE(module, nullptr);
    FARPROC byName = GetProcAddress(module, "CloseTundrapack");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), byName);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_CloseTundrapack@0"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "CloseTundrapack@0"), nullptr);
}

TEST(CloseTundrapack, WithoutTheCompanionWindowAnswersZeroAndAsksNoOtherWindow) {
    CdeclCloser closer = closeTundrapack();
    ASSERT_NE(closer, nullptr);
    EXPECT_EQ(closer(), 0) << "with no windows at all";

    // Near misses: the title on another class, the class with other titles, and the
    // right pair on a child window, where a search of top-level windows never looks.
    RecordingWindow otherClass(kOtherClass, kCompanionTitle, 11);
    RecordingWindow otherTitle(kCompanionClass, L"REZ_Aruvaz2", 12);
    RecordingWindow untitled(kCompanionClass, L"", 13);
    RecordingWindow child(kCompanionClass, kCompanionTitle, 14, otherClass.handle());
    for (const RecordingWindow* window : {&otherClass, &otherTitle, &untitled, &child})
        ASSERT_NE(window->handle(), nullptr);

    EXPECT_EQ(closer(), 0);
    EXPECT_EQ(otherClass.requests(), 0);
    EXPECT_EQ(otherTitle.requests(), 0);
    EXPECT_EQ(untitled.requests(), 0);
    EXPECT_EQ(child.requests(), 0);
}

TEST(CloseTundrapack, AsksOnlyTheCompanionWindowAndPassesItsAnswerBackWhole) {
    RecordingWindow before(kOtherClass, kCompanionTitle, 21);
    RecordingWindow companion(kCompanionClass, kCompanionTitle, kWideAnswer);
    RecordingWindow after(kOtherClass, kCompanionTitle, 22);
    ASSERT_NE(companion.handle(), nullptr);

    auto asCdecl = haltmod().function<CdeclCloser>("CloseTundrapack");
    auto asStdcall = haltmod().function<StdcallCloser>("CloseTundrapack");
    ASSERT_NE(asCdecl, nullptr);
    ASSERT_NE(asStdcall, nullptr);

    // The request is handled before the call returns.
    EXPECT_EQ(asCdecl(), kWideAnswer);
    EXPECT_EQ(companion.requests(), 1);
    EXPECT_EQ(asStdcall(), kWideAnswer);
    EXPECT_EQ(companion.requests(), 2);
    EXPECT_TRUE(companion.requestsWellFormed()) << "a request came with a non-zero parameter";

    // Whatever the window answers is the result, including the 0 that also means
    // "no window" and negative values.
    for (LRESULT answer : {LRESULT{0}, LRESULT{-1}, LRESULT{1}}) {
        companion.setAnswer(answer);
        EXPECT_EQ(asCdecl(), answer);
    }
    EXPECT_EQ(companion.requests(), 5);
    EXPECT_EQ(before.requests(), 0);
    EXPECT_EQ(after.requests(), 0);
}

TEST(CloseTundrapack, OfTwoCompanionWindowsOnlyTheOneFoundFirstIsAsked) {
    RecordingWindow first(kCompanionClass, kCompanionTitle, 31);
    RecordingWindow second(kCompanionClass, kCompanionTitle, 32);
    HWND found = FindWindowW(kCompanionClass, kCompanionTitle);
    ASSERT_TRUE(found != nullptr && (found == first.handle() || found == second.handle()));
    RecordingWindow& asked = found == first.handle() ? first : second;
    RecordingWindow& spared = found == first.handle() ? second : first;

    CdeclCloser closer = closeTundrapack();
    ASSERT_NE(closer, nullptr);
    EXPECT_EQ(closer(), asked.answer());
    EXPECT_EQ(asked.requests(), 1);
    EXPECT_EQ(spared.requests(), 0);
}

TEST(CloseTundrapack, CallersOnAnyThreadGetTheAnswerOfTheWindowsOwnThread) {
    CdeclCloser closer = closeTundrapack();
    ASSERT_NE(closer, nullptr);
    WindowOnItsOwnThread owner(41);
    ASSERT_TRUE(owner.waitUntilUp());
    ASSERT_NE(owner.window().handle(), nullptr);

    constexpr int kCallers = 4;
    constexpr int kCallsEach = 25;
    std::atomic<int> answered{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i)
        callers.emplace_back([&] {
            for (int call = 0; call < kCallsEach; ++call)
                if (closer() == 41)
                    ++answered;
        });
    for (std::thread& caller : callers)
        caller.join();

    EXPECT_EQ(answered, kCallers * kCallsEach);
    EXPECT_EQ(owner.window().requests(), kCallers * kCallsEach);
    EXPECT_TRUE(owner.window().requestsWellFormed());
}

TEST(CloseTundrapack, ReachesTheCompanionInAnotherProcessWhichThenCloses) {
    CdeclCloser closer = closeTundrapack();
    ASSERT_NE(closer, nullptr);

    const std::string upName =
        "Local\\LumivaneCompanionUp-" + std::to_string(GetCurrentProcessId());
    os::Event up(os::Event::Reset::Manual, false, upName);
    std::wstring commandLine = L"\"" + os::fileBesideExecutable(LUMIVANE_COMPANION_FILE).wstring() +
                               L"\" " + os::widen(upName);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info))
        << "cannot start the companion, error " << GetLastError();
    ChildProcess companion(info);

    HANDLE upOrGone[] = {up.nativeHandle(), info.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, upOrGone, FALSE, kPatienceMs), WAIT_OBJECT_0)
        << "the companion's window never came up";

    EXPECT_EQ(closer(), static_cast<LRESULT>(info.dwProcessId));

    ASSERT_EQ(WaitForSingleObject(info.hProcess, kPatienceMs), WAIT_OBJECT_0)
        << "the companion did not close after the request";
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &exitCode));
    // 0: exactly one well-formed request; 2: more, or with parameters; 3: none.
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(closer(), 0) << "asked again after the companion had gone";
}
