#include "panel/tint_image.h"

#include <QColor>
#include <QHash>
#include <QLabel>
#include <QPixmap>
#include <QVector>
#include <cmath>
#include <memory>

namespace {

// What a tint needs of a picture whatever the hue: its distinct colours with their
// saturation and lightness, and for every pixel the colour it has and its alpha. The
// artwork has a few thousand colours over a few hundred thousand pixels, so a tint
// converts each colour once and then only looks pixels up.
struct TintSource {
    struct Colour {
        qreal saturation;
        qreal lightness;
    };
    int width = 0;
    int height = 0;
    QVector<Colour> colours;
    QVector<quint32> colourOf; // per pixel: index into colours
    QVector<quint32> alphaOf;  // per pixel: the alpha byte in place (bits 24-31)
};

TintSource prepare(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    TintSource out;
    out.width = image.width();
    out.height = image.height();
    out.colourOf.reserve(out.width * out.height);
    out.alphaOf.reserve(out.width * out.height);
    QHash<QRgb, quint32> seen;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb rgb = line[x] & 0x00FFFFFFu;
            auto found = seen.constFind(rgb);
            if (found == seen.constEnd()) {
                // The pixel's own saturation and lightness as QColor computes them.
                const QColor colour(qRed(rgb), qGreen(rgb), qBlue(rgb));
                out.colours.push_back({colour.hslSaturationF(), colour.lightnessF()});
                found = seen.insert(rgb, quint32(out.colours.size() - 1));
            }
            out.colourOf.push_back(*found);
            out.alphaOf.push_back(line[x] & 0xFF000000u);
        }
    }
    return out;
}

QImage tinted(const TintSource& source, float hue, float lightness) {
    QVector<quint32> rgbOf(source.colours.size());
    for (int i = 0; i < source.colours.size(); ++i) {
        const TintSource::Colour& colour = source.colours[i];
        qreal pixelLightness = colour.lightness;
        if (lightness != -1.0f && pixelLightness >= 0.09) {
            pixelLightness = lightness;
        }
        const QColor tint = QColor::fromHslF(hue, colour.saturation, pixelLightness, 1.0);
        rgbOf[i] = qRgba(tint.red(), tint.green(), tint.blue(), 0);
    }
    QImage image(source.width, source.height, QImage::Format_ARGB32);
    const quint32* colourOf = source.colourOf.constData();
    const quint32* alphaOf = source.alphaOf.constData();
    for (int y = 0; y < source.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < source.width; ++x, ++colourOf, ++alphaOf) {
            line[x] = rgbOf[int(*colourOf)] | *alphaOf;
        }
    }
    return image;
}

// The panel's pictures are resources that never change: each is prepared once.
const TintSource& preparedPicture(const QString& path) {
    static QHash<QString, std::shared_ptr<const TintSource>> pictures;
    auto found = pictures.constFind(path);
    if (found == pictures.constEnd()) {
        found = pictures.insert(path, std::make_shared<const TintSource>(prepare(QImage(path))));
    }
    return **found;
}

} // namespace

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
    return tinted(prepare(source), hue, lightness);
}

QImage tintedPicture(const QString& path, float hue, float lightness) {
    return tinted(preparedPicture(path), hue, lightness);
}

void tintImage(float hue, float lightness, QLabel* label, const QString& path) {
    label->setPixmap(QPixmap::fromImage(tintedPicture(path, normalisedHue(hue), lightness)));
    label->update();
}
