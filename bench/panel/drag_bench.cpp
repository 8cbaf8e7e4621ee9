// One move of a drag on the hue wheel in the panel's real window, offscreen: the mouse
// move on the thumb, the swatches, the thumb and the logo retinted, and the window
// painted. A drag is smooth at 60 moves a second with room to spare when a move takes
// no more than 4 ms.
//
// The window runs against the virtual board, its bridge and the service (live_panel.h).

#include "live_panel.h"
#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/clickable_label.h"
#include "panel/panel_resources.h"
#include "panel/viruv.h"
#include "tools/tour/pointer.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

// The thumb's top-left corner for a pointer at angle a on the wheel's circle.
QPoint cornerAt(float angle) {
    return QPoint(int(std::lround(76 + std::cos(angle) * 64)) - 9,
                  int(std::lround(76 - std::sin(angle) * 64)) - 9);
}

void BM_DragMove(benchmark::State& state) {
    viruv window;
    window.show();
    auto* wheel = window.findChild<CircleSlider*>();
    auto* thumb = wheel->findChild<CircleSliderThumb*>();
    // The colour controls in use, as when a user drags for a colour.
    tour::sendMouse(wheel->cover(), QEvent::MouseButtonPress, QPoint(20, 20));
    QApplication::processEvents();
    tour::sendMouse(thumb, QEvent::MouseButtonPress, QPoint(9, 9));

    int step = 0;
    for (auto _ : state) {
        // A degree and a half per move: every move is a new hue.
        const float angle = 1.5707963f - float(step++ % 240) * 0.0261799f;
        tour::sendMouse(thumb, QEvent::MouseMove, cornerAt(angle) - thumb->pos() + QPoint(9, 9));
        QApplication::processEvents();
    }
    tour::sendMouse(thumb, QEvent::MouseButtonRelease, QPoint(9, 9));
    state.counters["moves/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DragMove)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    LivePanel live;
    QApplication application(argc, argv);
    initPanelResources();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
