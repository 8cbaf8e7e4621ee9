#include "panel/tint_image.h"

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <cmath>

float normalisedHue(float angle) {
    float hue = (angle < 0 ? angle + 6.283185f : angle) / 6.283185f;
    // Positions set from outside the wheel may lie beyond one turn either way; QColor
    // would turn such a hue into an invalid (black) colour.
    if (hue < 0.0f || hue > 1.0f) {
        hue -= std::floor(hue);
    }
    return hue;
}

QImage tintedImage(const QImage& source, float hue, float lightness) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const QColor colour(qRed(pixel), qGreen(pixel), qBlue(pixel));
            const qreal saturation = colour.hslSaturationF();
            qreal pixelLightness = colour.lightnessF();
            if (lightness != -1.0f && pixelLightness >= 0.09) {
                pixelLightness = lightness;
            }
            const QColor tinted = QColor::fromHslF(hue, saturation, pixelLightness, 1.0);
            line[x] = qRgba(tinted.red(), tinted.green(), tinted.blue(), qAlpha(pixel));
        }
    }
    return image;
}

void tintImage(float hue, float lightness, QLabel* label, const QString& path) {
    label->setPixmap(QPixmap::fromImage(tintedImage(QImage(path), normalisedHue(hue), lightness)));
    label->update();
}
