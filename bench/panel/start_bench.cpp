// The panel from process start to its first painted frame, offscreen, with the virtual
// board, its bridge and the lighting service already running: what a user waits for
// between a click on the panel's icon and its window.
//
//   panel_start_bench [runs]
//
// Each run starts this program again as the panel (the entry the panel's program has,
// without its single-instance lock) and gives it the moment of the start; the panel
// reports how long after it its first frame was painted.

#include "live_panel.h"
#include "panel/panel_resources.h"
#include "panel/viruv.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Ends the process once the window's first frame is painted: the paint of the window
// itself starts it, and its children are painted before the event loop runs again.
class FirstFrame : public QObject {
public:
    FirstFrame(QWidget* window, std::int64_t startNs) : window_(window), startNs_(startNs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, [this] {
                std::printf("%.2f\n", double(nowNs() - startNs_) / 1e6);
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
        return false;
    }

private:
    QWidget* window_;
    std::int64_t startNs_;
    bool seen_ = false;
};

int runPanel(int argc, char** argv, std::int64_t startNs) {
    QApplication application(argc, argv);
    initPanelResources();
    viruv window;
    FirstFrame first(&window, startNs);
    window.installEventFilter(&first);
    window.show();
    return application.exec();
}

// One start of the panel: milliseconds to its first frame, or a negative number.
double startOnce(const char* self) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const std::string start = std::to_string(nowNs());
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(self, self, "--panel", start.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[64];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
        return -1;
    return std::atof(text.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--panel") == 0)
        return runPanel(argc, argv, std::atoll(argv[2]));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    LivePanel live;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = startOnce(self.c_str());
        if (ms < 0) {
            std::fprintf(stderr, "run %d: the panel did not paint\n", i + 1);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("panel start to first painted frame, %d runs: median %.1f ms, min %.1f ms, "
                "max %.1f ms\n",
                runs, times[times.size() / 2], times.front(), times.back());
    return 0;
}
