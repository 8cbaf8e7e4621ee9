// Renders the panel's widgets and every one of its pictures into one PNG, for people to
// judge the look: gallery <output.png>. Runs on any Qt platform; the build uses offscreen.

#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/images/artwork.h"
#include "panel/light_slider.h"
#include "panel/panel_resources.h"
#include "panel/tint_image.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <cstdio>

namespace {

const QString kResources = QStringLiteral(":/viruv/Resources/");
const QColor kPage(0x0b, 0x0c, 0x0f);
const QColor kCaption(0xb8, 0xbe, 0xc6);
constexpr int kPageWidth = 1760;

const char* const kColorSliderStyle =
    "QSlider { background: url(:/viruv/Resources/color_picker/empty.png); }"
    "QSlider::groove:vertical, QSlider::groove:vertical:disabled {"
    " border-image: url(:/viruv/Resources/color_picker/empty.png); }"
    "QSlider::handle:vertical { image: url(:/viruv/Resources/color_picker/thumb.png);"
    " height: 11px; margin: 0px; }"
    "QSlider::handle:vertical:disabled { image: url(:/viruv/Resources/color_picker/thumb_un.png); "
    "}";
const char* const kGraySliderStyle =
    "QSlider::groove:vertical { border-image: url(:/viruv/Resources/color_picker/white_n.png); }"
    "QSlider::groove:vertical:disabled {"
    " border-image: url(:/viruv/Resources/color_picker/white_un.png); }"
    "QSlider::handle:vertical { image: url(:/viruv/Resources/color_picker/thumb.png);"
    " height: 11px; margin: 0px; }";

QImage resource(const QString& path) {
    return QImage(kResources + path);
}

// The widget as it paints itself, without a window background behind it: the
// checkerboard or the window picture shows through.
QImage grabbed(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.setAttribute(Qt::WA_NoSystemBackground);
    widget.ensurePolished();
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage tinted(const QString& path, float hueAngle, float lightness) {
    return tintedImage(resource(path), normalisedHue(hueAngle), lightness);
}

// A wheel as the window sets it up.
void setUpWheel(CircleSlider& wheel) {
    wheel.resize(152, 152);
    wheel.setCentre(QPoint(76, 76));
    wheel.setRadius(64);
    wheel.setOrigin(1.5707963f);
}

void setUpColorSlider(LightSlider& slider, float hue) {
    slider.setOrientation(Qt::Vertical);
    slider.setMaximum(100);
    slider.setValue(100);
    slider.resize(41, 133);
    slider.setStyleSheet(kColorSliderStyle);
    slider.setHue(hue);
}

void caption(QPainter& painter, const QPoint& at, const QString& text) {
    painter.setPen(kCaption);
    painter.drawText(at, text);
}

// A checkerboard under pictures with transparency, so their alpha shows.
void checker(QPainter& painter, const QRect& area) {
    painter.save();
    painter.setClipRect(area);
    for (int y = area.top(); y < area.bottom(); y += 8) {
        for (int x = area.left(); x < area.right(); x += 8) {
            const bool odd = ((x - area.left()) / 8 + (y - area.top()) / 8) % 2;
            painter.fillRect(QRect(x, y, 8, 8),
                             odd ? QColor(0x2a, 0x2d, 0x33) : QColor(0x1e, 0x21, 0x26));
        }
    }
    painter.restore();
}

// The pictures at their places in the 810 x 504 window, with the widgets of this
// library: what the window of the next step is to look like.
QImage windowPreview() {
    QImage window = resource("bg.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&window);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const float hue = 3.7f;
    painter.drawImage(QPoint(0, 0), tinted("eye/pattern.png", hue, -1.0f), QRect(0, 0, 405, 413));
    painter.drawImage(783, 6, resource("window/close_n.png"));
    painter.drawImage(385, 60, resource("switch/on_n.png"));
    painter.drawImage(384, 112, resource("line.png"));

    QFont font("Arial");
    font.setPointSize(10);
    painter.setFont(font);
    painter.setPen(QColor(169, 169, 169));
    painter.drawText(QRect(416, 110, 81, 16), Qt::AlignLeft | Qt::AlignVCenter, "Start");
    painter.drawText(QRect(388, 90, 81, 16), Qt::AlignLeft | Qt::AlignVCenter, "Shutdown");

    const char* const effects[] = {"Static",  "Pulsating",    "Strobing",
                                   "Rainbow", "Music Effect", "CPU Temperature"};
    for (int i = 0; i < 6; ++i) {
        const int y = 160 + 34 * i;
        painter.drawImage(410, y, resource(i == 1 ? "radiobutton/d.png" : "radiobutton/n.png"));
        if (i < 4) {
            painter.drawImage(
                382, y, resource(i == 1 ? "radiobutton/shutdown_d.png" : "radiobutton/un.png"));
        }
        painter.setPen(QColor(210, 222, 210));
        painter.drawText(QRect(434, y, 140, 21), Qt::AlignLeft | Qt::AlignVCenter, effects[i]);
    }
    painter.drawImage(430, 359, resource("temperature/C_un.png"));

    font.setPointSize(11);
    painter.setFont(font);
    const struct {
        int x;
        const char* text;
        const char* image;
    } buttons[] = {{560, "Default", "button/n.png"}, {687, "Apply", "button/o.png"}};
    for (const auto& button : buttons) {
        const QRect frame(button.x, 430, 116, 26);
        painter.drawImage(frame, resource(button.image));
        painter.setPen(QColor(228, 228, 228));
        painter.drawText(frame, Qt::AlignCenter, button.text);
    }

    CircleSlider wheel;
    setUpWheel(wheel);
    wheel.setPosition(hue);
    wheel.setPresentLightness(0.5f);
    wheel.setPreviousLightness(0.5f);
    painter.drawImage(549, 114, grabbed(wheel));
    LightSlider colorSlider;
    setUpColorSlider(colorSlider, normalisedHue(hue));
    painter.drawImage(708, 109, grabbed(colorSlider));
    QSlider graySlider(Qt::Vertical);
    graySlider.setStyleSheet(kGraySliderStyle);
    graySlider.resize(41, 133);
    graySlider.setMaximum(100);
    graySlider.setValue(60);
    graySlider.setEnabled(false);
    painter.drawImage(749, 109, grabbed(graySlider));
    return window;
}

// Wheels, sliders, thumbs and logos in a few hues and states.
QImage widgetSheet() {
    QImage sheet(kPageWidth, 420, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(kPage);
    QPainter painter(&sheet);
    int x = 20;

    const struct {
        float position;
        float present;
        float previous;
        bool covered;
    } wheels[] = {{0.0f, 0.5f, 0.5f, false},
                  {2.1f, 0.3f, 0.7f, false},
                  {-1.2f, 0.65f, 0.4f, false},
                  {4.0f, 0.5f, 0.5f, true}};
    for (const auto& look : wheels) {
        CircleSlider wheel;
        setUpWheel(wheel);
        wheel.setPosition(look.position);
        wheel.setPresentLightness(look.present);
        wheel.setPreviousLightness(look.previous);
        wheel.setCoverVisible(look.covered);
        checker(painter, QRect(x, 30, 152, 152));
        painter.drawImage(x, 30, grabbed(wheel));
        caption(painter, QPoint(x, 200),
                QString("wheel %1%2").arg(look.position).arg(look.covered ? ", covered" : ""));
        x += 172;
    }

    for (const float hue : {0.0f, 0.17f, 0.33f, 0.6f, 0.83f}) {
        LightSlider slider;
        setUpColorSlider(slider, hue);
        slider.setValue(int(hue * 100));
        painter.drawImage(x, 30, grabbed(slider));
        caption(painter, QPoint(x, 200), QString("%1").arg(hue));
        x += 56;
    }

    x += 10;
    for (const float hue : {0.0f, 0.25f, 0.5f, 0.75f}) {
        // As a child, the thumb fills its background with its picture.
        QWidget host;
        host.resize(19, 19);
        auto* thumb = new CircleSliderThumb(&host);
        thumb->setHue(hue);
        checker(painter, QRect(x, 30, 76, 76));
        painter.drawImage(QRect(x, 30, 76, 76), grabbed(host));
        caption(painter, QPoint(x, 124), QString("thumb %1").arg(hue));
        x += 90;
    }

    x = 20;
    const struct {
        const char* path;
        float hue;
        float lightness;
    } logos[] = {{"eye/pattern.png", 0.0f, -1.0f},   {"eye/pattern.png", 2.1f, -1.0f},
                 {"eye/pattern.png", 4.2f, 0.3f},    {"eye/pattern.png", 5.2f, 0.7f},
                 {"eye/pattern_w.png", 0.0f, -1.0f}, {"eye/pattern_w.png", 0.0f, 0.45f}};
    for (const auto& logo : logos) {
        const QImage image = tinted(logo.path, logo.hue, logo.lightness).scaled(172, 209);
        painter.drawImage(x, 210, image);
        caption(painter, QPoint(x, 414),
                QString("%1 %2, %3").arg(logo.path).arg(logo.hue).arg(logo.lightness));
        x += 200;
    }
    return sheet;
}

// Every picture of the bundle at its own size, captioned with its path and size.
QImage pictureSheet() {
    struct Placed {
        QImage image;
        QString label;
        QPoint at;
    };
    std::vector<Placed> placed;
    int x = 20;
    int y = 20;
    int rowHeight = 0;
    for (const Artwork& artwork : panelArtwork()) {
        Placed item{resource(artwork.path), QString(artwork.path), {}};
        item.label += QString("  %1x%2").arg(item.image.width()).arg(item.image.height());
        const int width = std::max(
            item.image.width(), QFontMetrics(QApplication::font()).horizontalAdvance(item.label));
        if (x + width > kPageWidth - 20) {
            x = 20;
            y += rowHeight + 40;
            rowHeight = 0;
        }
        item.at = QPoint(x, y);
        x += width + 20;
        rowHeight = std::max(rowHeight, item.image.height());
        placed.push_back(item);
    }

    QImage sheet(kPageWidth, y + rowHeight + 40, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(kPage);
    QPainter painter(&sheet);
    for (const Placed& item : placed) {
        checker(painter, QRect(item.at, item.image.size()));
        painter.drawImage(item.at, item.image);
        caption(painter, item.at + QPoint(0, item.image.height() + 16), item.label);
    }
    return sheet;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    initPanelResources();
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    QApplication::setFont(font);

    const QImage window = windowPreview();
    const QImage widgets = widgetSheet();
    const QImage pictures = pictureSheet();

    QImage page(kPageWidth, 20 + window.height() + 20 + widgets.height() + pictures.height(),
                QImage::Format_ARGB32);
    page.fill(kPage);
    QPainter painter(&page);
    painter.drawImage(20, 20, window);
    painter.drawImage(0, 20 + window.height() + 20, widgets);
    painter.drawImage(0, 20 + window.height() + 20 + widgets.height(), pictures);
    painter.end();
    if (!page.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "gallery: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
