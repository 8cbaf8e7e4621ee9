#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/images/artwork.h"
#include "panel/light_slider.h"
#include "panel/panel_resources.h"
#include "panel/tint_image.h"

#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

const QString kResources = QStringLiteral(":/viruv/Resources/");

double hueDistance(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

QColor rgbOf(QRgb pixel) {
    return QColor(qRed(pixel), qGreen(pixel), qBlue(pixel));
}

// The tint computed the plain way, every pixel through QColor on its own: what the
// panel's prepared tint must give to the bit.
QImage tintedPixelByPixel(const QImage& source, float hue, float lightness) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = rgbOf(line[x]);
            const qreal l = lightness != -1.0f && colour.lightnessF() >= 0.09 ? qreal(lightness)
                                                                              : colour.lightnessF();
            const QColor tint = QColor::fromHslF(hue, colour.hslSaturationF(), l, 1.0);
            line[x] = qRgba(tint.red(), tint.green(), tint.blue(), qAlpha(line[x]));
        }
    }
    return image;
}

} // namespace

class PanelImagesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initPanelResources(); }

    void bundleHoldsEveryPictureAsRgbaPng() {
        QSet<QString> listed;
        for (const Artwork& artwork : panelArtwork()) {
            const QString path = kResources + artwork.path;
            listed.insert(path);
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray header = file.read(26);
            QVERIFY2(header.startsWith("\x89PNG\r\n\x1a\n") && header.mid(12, 4) == "IHDR",
                     qPrintable(path));
            QVERIFY2(header[24] == 8 && header[25] == 6, qPrintable(path + " is not 8-bit RGBA"));
            QCOMPARE(QImage(path).size(), artwork.size);
        }
        QSet<QString> bundled;
        QDirIterator it(kResources, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            bundled.insert(it.next());
        }
        QCOMPARE(bundled, listed);

        // The sizes the widgets and the window are laid out for.
        const struct {
            const char* path;
            QSize size;
        } sizes[] = {{"bg.png", {810, 504}},
                     {"eye/pattern.png", {414, 504}},
                     {"eye/pattern_w.png", {414, 504}},
                     {"color_picker/Hue.png", {152, 152}},
                     {"color_picker/picker.png", {19, 19}},
                     {"color_picker/present_color.png", {50, 50}},
                     {"color_picker/previous_color.png", {50, 50}},
                     {"color_picker/color_n.png", {41, 145}},
                     {"color_picker/colorcover_un.png", {200, 166}},
                     {"radiobutton/n.png", {21, 21}},
                     {"radiobutton/dun.png", {21, 21}}};
        for (const auto& expected : sizes) {
            QCOMPARE(QImage(kResources + expected.path).size(), expected.size);
        }
    }

    void tintSetsHueAndLightnessButKeepsOutlinesDark() {
        QImage source(8, 1, QImage::Format_ARGB32);
        const QRgb pixels[] = {qRgba(0, 0, 0, 255),       qRgba(20, 4, 4, 255),
                               qRgba(200, 30, 30, 255),   qRgba(120, 230, 240, 255),
                               qRgba(128, 128, 128, 255), qRgba(255, 255, 255, 255),
                               qRgba(40, 160, 60, 100),   qRgba(200, 0, 0, 0)};
        for (int x = 0; x < 8; ++x) {
            source.setPixel(x, 0, pixels[x]);
        }
        const float angle = 2.0f;
        const double targetHue = normalisedHue(angle) * 360.0;

        for (const float lightness : {-1.0f, 0.3f}) {
            const QImage tinted = tintedImage(source, normalisedHue(angle), lightness);
            for (int x = 0; x < 8; ++x) {
                const QColor before = rgbOf(source.pixel(x, 0));
                const QColor after = rgbOf(tinted.pixel(x, 0));
                const QString where = QString("pixel %1, lightness %2").arg(x).arg(lightness);
                QCOMPARE(qAlpha(tinted.pixel(x, 0)), qAlpha(source.pixel(x, 0)));
                const bool dark = before.lightnessF() < 0.09;
                const double expected = lightness == -1.0f || dark ? before.lightnessF() : 0.3;
                QVERIFY2(std::abs(after.lightnessF() - expected) < 0.006, qPrintable(where));
                if (before.hslSaturationF() > 0.2 && after.lightnessF() > 0.05) {
                    QVERIFY2(hueDistance(after.hslHueF() * 360, targetHue) < 2.5,
                             qPrintable(where));
                    QVERIFY2(std::abs(after.hslSaturationF() - before.hslSaturationF()) < 0.1,
                             qPrintable(where));
                }
            }
        }

        // The label form loads the file and shows the same picture.
        QTemporaryDir dir;
        const QString path = dir.filePath("source.png");
        QVERIFY(source.save(path));
        QLabel label;
        tintImage(angle, 0.3f, &label, path);
        const QImage shown = label.pixmap(Qt::ReturnByValue).toImage();
        const QImage tinted = tintedImage(source, normalisedHue(angle), 0.3f);
        for (int x = 0; x < 6; ++x) {
            QCOMPARE(shown.pixel(x, 0), tinted.pixel(x, 0));
        }
    }

    void preparedTintGivesEveryPixelOfThePlainOne() {
        for (const char* name : {"eye/pattern.png", "eye/pattern_w.png", "color_picker/picker.png",
                                 "color_picker/present_color.png"}) {
            const QString path = kResources + name;
            const QImage source(path);
            for (const float hue : {0.0f, 0.37f, 0.999f})
                for (const float lightness : {-1.0f, 0.07f, 0.35f, 0.7f}) {
                    const QImage expected = tintedPixelByPixel(source, hue, lightness);
                    // Twice from the kept picture: keeping it changes nothing.
                    for (int pass = 0; pass < 2; ++pass)
                        QVERIFY2(
                            tintedPicture(path, hue, lightness) == expected,
                            qPrintable(QString("%1 at %2, %3").arg(name).arg(hue).arg(lightness)));
                    QVERIFY(tintedImage(source, hue, lightness) == expected);
                }
        }
    }

    void wheelShowsTheHueItApplies() {
        CircleSlider wheel;
        wheel.resize(152, 152);
        wheel.setCentre(QPoint(76, 76));
        wheel.setRadius(64);
        wheel.setOrigin(1.5707963f);
        const QImage face(kResources + "color_picker/Hue.png");
        auto* thumb = wheel.findChild<CircleSliderThumb*>();
        for (int step = 0; step < 48; ++step) {
            const float position = -3.1f + step * 0.13f;
            wheel.setPosition(position);
            const QPoint centre = thumb->pos() + QPoint(9, 9);
            const QColor under = face.pixelColor(centre);
            const QString where = QString("position %1").arg(position);
            QVERIFY2(under.alpha() == 255 && under.hslSaturationF() > 0.9, qPrintable(where));
            QVERIFY2(hueDistance(under.hslHueF() * 360, normalisedHue(position) * 360) < 2.0,
                     qPrintable(where));
        }
    }

    void swatchesShowTheChosenColour() {
        const QImage present(kResources + "color_picker/present_color.png");
        const QImage previous(kResources + "color_picker/previous_color.png");
        for (int y = 0; y < 50; ++y) {
            const bool upper = y < 25;
            QCOMPARE(qAlpha(present.pixel(25, y)) > 0, upper);
            QCOMPARE(qAlpha(previous.pixel(25, y)) > 0, !upper);
            if (y > 0 && y < 49) {
                QCOMPARE(qAlpha((upper ? present : previous).pixel(25, y)), 255);
            }
        }

        // What Apply programs is the colour the upper half shows, also under the cover.
        CircleSlider wheel;
        wheel.setPosition(2.0f);
        wheel.setPresentLightness(0.3f);
        wheel.setPreviousLightness(0.8f);
        wheel.setCoverVisible(true);
        const QColor expected = QColor::fromHslF(normalisedHue(2.0f), 1.0, 0.3).toRgb();
        const QColor shown = wheel.presentColor();
        // An opaque RGB colour: QColor's == also compares the colour model.
        QCOMPARE(shown, QColor(shown.rgb()));
        QVERIFY2(std::abs(shown.red() - expected.red()) <= 1 &&
                     std::abs(shown.green() - expected.green()) <= 1 &&
                     std::abs(shown.blue() - expected.blue()) <= 1,
                 qPrintable(shown.name() + " for " + expected.name()));
    }

    void logoTakesTheTint() {
        const QImage logo(kResources + "eye/pattern.png");
        const float angle = 4.0f;
        const double targetHue = normalisedHue(angle) * 360.0;
        for (const float lightness : {-1.0f, 0.6f}) {
            const QImage tinted = tintedImage(logo, normalisedHue(angle), lightness);
            int visible = 0;
            int inHue = 0;
            int outline = 0;
            for (int y = 0; y < logo.height(); ++y) {
                for (int x = 0; x < logo.width(); ++x) {
                    const QRgb pixel = tinted.pixel(x, y);
                    if (qAlpha(pixel) < 200) {
                        continue;
                    }
                    ++visible;
                    const QColor colour = rgbOf(pixel);
                    const bool wasDark = rgbOf(logo.pixel(x, y)).lightnessF() < 0.09;
                    outline += wasDark ? 1 : 0;
                    if (wasDark) {
                        QVERIFY(colour.lightnessF() < 0.09);
                    } else if (colour.hslSaturationF() > 0.5 &&
                               hueDistance(colour.hslHueF() * 360, targetHue) < 2.0) {
                        ++inHue;
                    }
                }
            }
            QVERIFY(visible > logo.width() * logo.height() / 10);
            QVERIFY2(inHue > visible / 2, qPrintable(QString("%1 of %2").arg(inHue).arg(visible)));
            QVERIFY(outline > visible / 50);
        }
    }

    void lightSliderPaintsItsHue() {
        LightSlider slider;
        slider.setOrientation(Qt::Vertical);
        slider.setMaximum(100);
        slider.setValue(100);
        slider.resize(41, 133);
        slider.setStyleSheet(
            "QSlider::groove:vertical {"
            " border-image: url(:/viruv/Resources/color_picker/empty.png); }"
            "QSlider::handle:vertical {"
            " image: url(:/viruv/Resources/color_picker/thumb.png); height: 11px; }");
        const QImage groove(kResources + "color_picker/color_n.png");
        for (const float hue : {0.0f, 1.0f / 3, 0.8f}) {
            slider.setHue(hue);
            const QImage shown = slider.grab().toImage();
            for (const int y : {60, 100, 125}) {
                const QColor colour = shown.pixelColor(20, y);
                QVERIFY(hueDistance(colour.hslHueF() * 360, hue * 360) < 2.5);
                QVERIFY(std::abs(colour.lightnessF() - groove.pixelColor(20, y).lightnessF()) <
                        0.01);
            }
        }
    }
};

QTEST_MAIN(PanelImagesTest)
#include "panel_images_test.moc"
