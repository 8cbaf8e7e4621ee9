// Haltmod: asks the companion utility's main window to close itself.
#include <windows.h>

namespace {

// The companion's main window as the companion registers it. Both strings stay
// narrow: the window is looked up with FindWindowA so the system's own ANSI
// matching decides what counts as the same window.
constexpr char kCompanionClass[] = "TMainForm";
constexpr char kCompanionTitle[] = "REZ_Aruvaz";

// WM_USER + 1 is the companion's private "close yourself" request.
constexpr UINT kCloseRequest = WM_USER + 1;
static_assert(kCloseRequest == 0x401);

} // namespace

// Outside callers declare this function either __cdecl or __stdcall on 32-bit
// Windows, and both must work. It is __cdecl. Because it takes no arguments the two
// conventions produce the same code: the caller pushes nothing, the callee ends with
// a plain `ret` and pops nothing, the result comes back in EAX and the same registers
// are preserved. A __cdecl symbol also carries no @N suffix, so the export name stays
// plain. On 64-bit Windows there is only one convention.
//
// The answer is the window's own reply, passed through whole (pointer-sized), or 0
// when the companion is not running. SendMessageW waits for the companion to handle
// the request on its own thread. There is deliberately no time-out: a caller that
// cannot afford to wait for a hung companion calls this from a thread of its own.
extern "C" LRESULT __cdecl CloseTundrapack() {
    HWND window = FindWindowA(kCompanionClass, kCompanionTitle);
    if (window == nullptr)
        return 0;
    return SendMessageW(window, kCloseRequest, 0, 0);
}

// The library keeps no state, so there is nothing to set up or tear down: every
// notification (process and thread attach and detach) succeeds.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
