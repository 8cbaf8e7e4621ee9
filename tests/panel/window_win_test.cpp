// The control panel on Windows, as its user meets it: the bridge stand-in and
// Lumivane.exe registered with COM in this prefix, a virtual board behind them. The
// window is driven in this process through the same panel library viruv.exe is made
// of; viruv.exe itself is started beside it for what only a process shows (one panel
// per log-on, WM_CLOSE from another program). Registrations are taken back at the end:
// the prefix is shared with the other tests.

#include "board/bios_item.h"
#include "os/executable.h"
#include "panel/panel_resources.h"
#include "panel/panel_settings.h"
#include "panel/service_client.h"
#include "panel/viruv.h"
#include "run_program.h"
#include "settings/lighting_settings.h"
#include "test_environment.h"
#include "text_fit.h"
#include "virtualboard/board.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QtTest>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

namespace {

using testing_support::ScopedEnvironment;

constexpr std::uint8_t kGetItem = 2; // the bridge's iAcpiGetItem
constexpr std::uint8_t kSetItem = 4; // and iAcpiSetItem
constexpr DWORD kPatienceMs = 30000;

std::filesystem::path binaryDirectory() {
    return os::executablePath().value().parent_path();
}

// A program of the build started the way Explorer starts it; ended by the test if it
// is still there.
class Process {
public:
    // The arguments as the line says: installers pass switches unquoted.
    explicit Process(const std::filesystem::path& program, const std::wstring& arguments = L"") {
        std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &info_))
            CloseHandle(info_.hThread);
    }
    ~Process() {
        if (info_.hProcess) {
            if (running())
                TerminateProcess(info_.hProcess, 99);
            CloseHandle(info_.hProcess);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    bool running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // The exit code, or -1 when the process is still running after the wait.
    int waitForExit(DWORD ms = kPatienceMs) const {
        if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return int(code);
    }
    // The process's visible top-level window, once it shows one.
    HWND waitForWindow() const {
        for (DWORD waited = 0; waited < kPatienceMs && running(); waited += 100) {
            Search search{info_.dwProcessId, nullptr};
            EnumWindows(visibleWindowOf, reinterpret_cast<LPARAM>(&search));
            if (search.found)
                return search.found;
            Sleep(100);
        }
        return nullptr;
    }

private:
    struct Search {
        DWORD pid;
        HWND found;
    };
    // A plain function: a lambda does not convert to the 32-bit build's stdcall.
    static BOOL CALLBACK visibleWindowOf(HWND window, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != s->pid || !IsWindowVisible(window))
            return TRUE;
        s->found = window;
        return FALSE;
    }
    PROCESS_INFORMATION info_{};
};

int runInBinaryDirectory(const char* program, const std::vector<std::string>& arguments) {
    return vbtest::runProgram(binaryDirectory() / program, arguments);
}

// A bridge server still lingering after an earlier program serves that program's
// board: wait until none runs.
bool noBridgeServerRuns() {
    for (DWORD waited = 0; waited < kPatienceMs; waited += 100) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
             more = Process32NextW(snapshot, &entry))
            found = _wcsicmp(entry.szExeFile, L"" LUMIVANE_VBOARD) == 0;
        CloseHandle(snapshot);
        if (!found)
            return true;
        Sleep(100);
    }
    return false;
}

int runSwitch(const char* program, const wchar_t* option) {
    return Process(binaryDirectory() / program, option).waitForExit();
}

} // namespace

class WindowWinTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void applyProgramsTheFirmwareAndTheServiceThroughCom();
    void theProgramRunsOncePerLogOnAndEndsOnWmClose();
    void theWindowOnTheDisplay();

private:
    template <typename T>
    T* child(const char* name) {
        T* widget = window_->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    std::vector<virtualboard::CallRecord> calls(std::uint8_t method) const {
        std::vector<virtualboard::CallRecord> out;
        for (const auto& call : board_->bridge().calls())
            if (call.method == method && call.status == 0)
                out.push_back(call);
        return out;
    }
    std::int16_t serviceMode() const { return panel::ServiceClient().mode().value_or(-1); }

    std::optional<testing_support::TemporaryDirectory> directory_;
    std::unique_ptr<virtualboard::Board> board_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
    std::optional<std::string> savedServiceSettings_;
    std::unique_ptr<viruv> window_;
};

std::filesystem::path serviceSettingsFile() {
    return binaryDirectory() / settings::LightingSettings::kFileName;
}

void WindowWinTest::initTestCase() {
    initPanelResources();
    directory_.emplace();
    const std::filesystem::path dir = directory_->path();
    virtualboard::BoardOptions options;
    options.hostTemperature = false;
    options.temperature = 387;
    board_ = virtualboard::Board::create(dir / "board.img", options, dir / "firmware");
    // What COM starts inherits these: the service finds the same board.
    for (auto [name, value] :
         {std::pair<const char*, std::string>{"VBOARD_IMAGE", (dir / "board.img").string()},
          {"LUMIVANE_FIRMWARE_DIR", (dir / "firmware").string()},
          {"LUMIVANE_HWIO_DIR", binaryDirectory().string()},
          {"PULSE_SERVER", "unix:/nonexistent/lumivane"}})
        environment_.push_back(std::make_unique<ScopedEnvironment>(name, value));

    if (std::ifstream in{serviceSettingsFile(), std::ios::binary})
        savedServiceSettings_.emplace(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
    std::filesystem::remove(serviceSettingsFile());

    // The machine's set-up: the board's bridge and the service, each under its ProgID.
    QVERIFY(noBridgeServerRuns());
    QCOMPARE(runInBinaryDirectory(LUMIVANE_VBOARD, {"--image", (dir / "board.img").string(),
                                                    "bridge", "--register", "--linger", "1500"}),
             0);
    QCOMPARE(runSwitch(LUMIVANE_SERVICE, L"/RegServer"), 0);
}

void WindowWinTest::cleanupTestCase() {
    window_.reset();
    QCOMPARE(runSwitch(LUMIVANE_SERVICE, L"/UnregServer"), 0);
    QCOMPARE(runInBinaryDirectory(LUMIVANE_VBOARD, {"bridge", "--unregister"}), 0);
    std::filesystem::remove(panel::PanelSettings::instance().path());
    std::filesystem::remove(serviceSettingsFile());
    if (savedServiceSettings_)
        std::ofstream(serviceSettingsFile(), std::ios::binary) << *savedServiceSettings_;
}

void WindowWinTest::init() {
    // A panel started for the first time: lighting on, the firmware driving the LEDs,
    // no settings file, no software effect.
    board_->items().set(board::kLightingEnableItem, 1);
    board_->items().set(board::kLightingControlItem, 0);
    std::filesystem::remove(panel::PanelSettings::instance().path());
    QVERIFY(panel::ServiceClient().setMode(0));
    board_->bridge().clearCalls();
}

void WindowWinTest::cleanup() {
    window_.reset();
}

void WindowWinTest::applyProgramsTheFirmwareAndTheServiceThroughCom() {
    window_ = std::make_unique<viruv>();
    window_->show();
    // The window read the lighting through the COM bridge while it was built.
    QVERIFY(!calls(kGetItem).empty());

    // CPU Temperature with Strobing as the shutdown effect: the firmware gets the
    // effect, then the LEDs go to the software and the service runs the effect.
    child<QRadioButton>("radioThermal")->click();
    child<QRadioButton>("radioShutdownStrobing")->click();
    board_->bridge().clearCalls();
    child<QPushButton>("applyButton")->click();
    QVERIFY(!child<QPushButton>("applyButton")->isEnabled());

    const auto writes = calls(kSetItem);
    QVERIFY2(writes.size() >= 3, qPrintable(QString::number(writes.size())));
    QCOMPARE(writes[0].arguments[0], board::kLightingControlItem);
    QCOMPARE(writes[0].arguments[1], 0u);
    QCOMPARE(writes[1].arguments[0], board::kLightingEffectItem);
    QCOMPARE(writes[1].arguments[1] & 0xFF, 3u);
    QCOMPARE(writes[2].arguments[0], board::kLightingControlItem);
    QCOMPARE(writes[2].arguments[1], 1u);
    QCOMPARE(writes[2].arguments[2], 3u);
    QCOMPARE(serviceMode(), std::int16_t(2));
    QCOMPARE(settings::LightingSettings(serviceSettingsFile()).getMode(), 2);

    // Rainbow is the firmware's own again, and the service stops its effect.
    child<QRadioButton>("radioRainbow")->click();
    child<QPushButton>("applyButton")->click();
    QCOMPARE(board_->items().read(board::kLightingEffectItem), std::optional<std::uint32_t>(4));
    QCOMPARE(serviceMode(), std::int16_t(0));
}

void WindowWinTest::theProgramRunsOncePerLogOnAndEndsOnWmClose() {
    const std::filesystem::path program = binaryDirectory() / LUMIVANE_VIRUV;
    Process first(program);
    QVERIFY(first.started());
    const HWND window = first.waitForWindow();
    QVERIFY2(window, "viruv.exe showed no window");
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    QCOMPARE(QString::fromWCharArray(title), QString("Vantor Lighting Control"));
    // It started against the board: its page read the lighting items.
    QVERIFY(!calls(kGetItem).empty());

    Process second(program);
    QVERIFY(second.started());
    QCOMPARE(second.waitForExit(), 0);
    QVERIFY(first.running());

    // Another program asks the window to close: the panel ends with 0.
    QVERIFY(PostMessageW(window, WM_CLOSE, 0, 0));
    QCOMPARE(first.waitForExit(), 0);
}

void WindowWinTest::theWindowOnTheDisplay() {
    // Only with a display to look at (with-x11-wine); the tests' usual prefix draws
    // nowhere.
    const QByteArray folder = qgetenv("LUMIVANE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("no display: run through with-x11-wine");
    window_ = std::make_unique<viruv>();
    window_->move(40, 40);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTest::qWait(500);

    // What the display shows where the window is, read back from the screen.
    const QRect frame = window_->frameGeometry();
    const QImage screen = window_->screen()
                              ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
    QDir().mkpath(QString::fromLocal8Bit(folder));
    QVERIFY(screen.save(QDir(QString::fromLocal8Bit(folder)).filePath("viruv-x11.png")));

    // The display shows the window as the window draws itself.
    const QImage drawn = window_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(screen.size(), drawn.size());
    qint64 difference = 0, samples = 0;
    for (int y = 0; y < drawn.height(); y += 4)
        for (int x = 0; x < drawn.width(); x += 4, ++samples) {
            const QRgb a = screen.pixel(x, y), b = drawn.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b));
        }
    QVERIFY2(difference < samples * 6, qPrintable(QString::number(double(difference) / samples)));
    // And it is not one flat colour: the pictures are there.
    QSet<QRgb> colours;
    for (int x = 0; x < screen.width(); x += 8)
        colours.insert(screen.pixel(x, screen.height() / 2));
    QVERIFY(colours.size() > 10);

    // In the faces Windows has (the prefix maps Arial to its metric twin), every label
    // is whole and clear of the divider.
    const QStringList problems =
        text_fit::problems(window_.get(), QImage(":/viruv/Resources/bg.png"),
                           QImage(":/viruv/Resources/temperature/C.png"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
}

QTEST_MAIN(WindowWinTest)
#include "window_win_test.moc"
