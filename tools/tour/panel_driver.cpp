#include "tools/tour/panel_driver.h"

#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/clickable_label.h"
#include "panel/panel_resources.h"
#include "panel/viruv.h"
#include "tools/tour/pointer.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <numbers>

namespace tour {
namespace {

void settle() {
    QApplication::processEvents();
}

} // namespace

PanelDriver::PanelDriver() {
    static const bool resources = (initPanelResources(), true);
    (void)resources;
    window_ = std::make_unique<viruv>();
    window_->show();
    settle();
}

PanelDriver::~PanelDriver() = default;

bool PanelDriver::click(const char* radioName) {
    auto* radio = window_->findChild<QRadioButton*>(radioName);
    if (!radio || !radio->isEnabled())
        return false;
    radio->click();
    settle();
    return true;
}

void PanelDriver::pickHue(double degrees) {
    auto* wheel = window_->findChild<CircleSlider*>();
    if (wheel->cover()->isVisible())
        sendMouse(wheel->cover(), QEvent::MouseButtonPress, QPoint(20, 20));
    // Press on the thumb, move it to the hue's place on the circle, let go there.
    auto* thumb = wheel->findChild<CircleSliderThumb*>();
    const QPoint grip(thumb->width() / 2, thumb->height() / 2);
    const double angle = std::numbers::pi / 2 - degrees * std::numbers::pi / 180.0;
    const QPoint target(int(std::lround(wheel->centre().x() + std::cos(angle) * wheel->radius())),
                        int(std::lround(wheel->centre().y() - std::sin(angle) * wheel->radius())));
    // The grip lands on the circle: the point in the thumb's own coordinates.
    const QPoint to = target - thumb->pos();
    sendMouse(thumb, QEvent::MouseButtonPress, grip);
    sendMouse(thumb, QEvent::MouseMove, to);
    sendMouse(thumb, QEvent::MouseButtonRelease, to);
    settle();
}

bool PanelDriver::apply() {
    auto* button = window_->findChild<QPushButton*>("applyButton");
    if (!button || !button->isEnabled())
        return false;
    button->click();
    settle();
    return true;
}

QImage PanelDriver::screenshot() {
    settle();
    return window_->grab().toImage();
}

} // namespace tour
