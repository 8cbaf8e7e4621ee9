#include "panel/light_slider.h"

#include <QColor>
#include <QImage>
#include <QPainter>

namespace {

const char* const kGrooveImage = ":/viruv/Resources/color_picker/color_n.png";

// The groove picture at full saturation in hue: only its lightness and alpha carry over,
// so a grey or washed-out picture still shows the pure hue.
QImage saturatedImage(const QImage& source, float hue) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const qreal lightness = QColor(qRed(pixel), qGreen(pixel), qBlue(pixel)).lightnessF();
            const QColor colour = QColor::fromHslF(hue, 1.0, lightness, 1.0);
            line[x] = qRgba(colour.red(), colour.green(), colour.blue(), qAlpha(pixel));
        }
    }
    return image;
}

} // namespace

LightSlider::LightSlider(QWidget* parent) : QSlider(parent) {}

void LightSlider::setHue(float hue) {
    hue_ = hue;
    update();
}

void LightSlider::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.drawImage(0, 0, saturatedImage(QImage(kGrooveImage), hue_));
    }
    QSlider::paintEvent(event);
}
