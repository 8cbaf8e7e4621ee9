#include "panel/images/artwork.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// One palette for every picture: near-black surfaces, a cyan accent for what is active,
// amber for the firmware's shutdown effect, plain greys for what is disabled.
const QColor kSurface(0x1b, 0x1f, 0x26);
const QColor kSurfaceRaised(0x24, 0x29, 0x31);
const QColor kEdge(0x2c, 0x32, 0x3b);
const QColor kEdgeStrong(0x3d, 0x44, 0x4f);
const QColor kInk(0xe4, 0xe4, 0xe4);
const QColor kInkDim(0x9a, 0xa0, 0xa8);
const QColor kDisabledFill(0x17, 0x1a, 0x1e);
const QColor kDisabledEdge(0x30, 0x34, 0x3a);
const QColor kDisabledInk(0x52, 0x52, 0x52);
const QColor kAccent(0x1e, 0xb0, 0xe6);
const QColor kAccentHover(0x5c, 0xcf, 0xf5);
const QColor kAccentPressed(0x13, 0x7f, 0xa8);
const QColor kAmber(0xe8, 0xa0, 0x18);
const QColor kAmberHover(0xf6, 0xc2, 0x5a);

constexpr float kPi = 3.14159265f;

// Every picture is drawn antialiased.
class SmoothPainter : public QPainter {
public:
    explicit SmoothPainter(QImage& image) : QPainter(&image) { setRenderHint(Antialiasing); }
};

// How much of the pixel (x, y) lies inside, sampled on a 4 x 4 grid: for pictures whose
// colour is computed per pixel, so the edges are smooth without QPainter blending the
// colour of transparent pixels into them.
template <typename Inside>
float coverage(int x, int y, Inside inside) {
    int hits = 0;
    for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
            hits += inside(x + (sx + 0.5f) / 4.0f, y + (sy + 0.5f) / 4.0f) ? 1 : 0;
        }
    }
    return hits / 16.0f;
}

QImage straightAlpha(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Window

void drawBackground(QImage& image) {
    SmoothPainter painter(image);
    QLinearGradient base(0, 0, 0, image.height());
    base.setColorAt(0, QColor(0x15, 0x18, 0x1d));
    base.setColorAt(1, QColor(0x0c, 0x0e, 0x11));
    painter.fillRect(image.rect(), base);

    // A soft light behind the logo.
    QRadialGradient glow(200, 215, 230);
    glow.setColorAt(0, QColor(0x24, 0x2a, 0x33, 200));
    glow.setColorAt(1, QColor(0x24, 0x2a, 0x33, 0));
    painter.fillRect(QRect(0, 34, 405, 470), glow);

    // Title bar with a hairline and the accent mark.
    painter.fillRect(QRect(0, 0, 810, 34), QColor(0x19, 0x1c, 0x22));
    painter.fillRect(QRect(0, 34, 810, 1), kEdge);
    painter.fillRect(QRect(14, 11, 3, 13), kAccent);
    painter.fillRect(QRect(20, 15, 40, 2), kEdgeStrong);
    painter.fillRect(QRect(20, 20, 24, 2), kEdge);

    // The control panel on the right: effects column, colour column, button row.
    painter.setPen(QPen(kEdge, 1));
    painter.setBrush(QColor(0x14, 0x17, 0x1c, 235));
    painter.drawRoundedRect(QRectF(370.5, 48.5, 428, 372), 8, 8);
    painter.setPen(QPen(kEdge, 1));
    painter.drawLine(QPointF(532.5, 108), QPointF(532.5, 400));
    painter.setBrush(QColor(0x18, 0x1c, 0x22));
    painter.drawRoundedRect(QRectF(542.5, 100.5, 248, 176), 6, 6);
    painter.setPen(QPen(kEdge, 1));
    painter.drawLine(QPointF(550, 420.5), QPointF(800, 420.5));

    // Bottom rule with a short accent.
    painter.fillRect(QRect(0, 500, 810, 4), QColor(0x10, 0x12, 0x16));
    painter.fillRect(QRect(0, 500, 120, 2), kAccentPressed);
}

void drawBackgroundOff(QImage& image) {
    SmoothPainter painter(image);
    // Everything below the title bar sinks into the dark; the title bar stays clear so
    // the switch and the window buttons still read.
    painter.fillRect(QRect(0, 35, 810, 469), QColor(0x07, 0x08, 0x0a, 215));
    // A power mark where the logo was.
    QPen pen(kEdgeStrong, 6, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.drawArc(QRectF(160, 160, 90, 90), (90 + 40) * 16, (360 - 80) * 16);
    painter.drawLine(QPointF(205, 150), QPointF(205, 200));
}

void drawLine(QImage& image) {
    SmoothPainter painter(image);
    QLinearGradient fade(0, 0, 0, image.height());
    fade.setColorAt(0, QColor(0x3d, 0x44, 0x4f, 0));
    fade.setColorAt(0.3, QColor(0x3d, 0x44, 0x4f, 255));
    fade.setColorAt(1, QColor(0x3d, 0x44, 0x4f, 255));
    painter.fillRect(QRectF(8, 0, 1, 48), fade);
    painter.fillRect(QRectF(36, 18, 1, 30), fade);
    painter.fillRect(QRectF(8, 47, 29, 1), kEdgeStrong);
}

// The logo: an eye of layered rings. Coloured parts are fully saturated so that a tint
// takes over their hue; outlines are near black so that they stay black under any
// lightness. saturation 0 draws the white-mode version.
void drawEmblem(QImage& image, qreal saturation, bool withHalo) {
    SmoothPainter painter(image);
    const QPointF centre(202, 206);
    const auto tone = [saturation](qreal lightness, int alpha = 255) {
        QColor colour = QColor::fromHslF(0.0, saturation, lightness);
        colour.setAlpha(alpha);
        return colour;
    };
    const QColor outline(0x05, 0x05, 0x06);

    if (withHalo) {
        QRadialGradient halo(centre, 200);
        halo.setColorAt(0.25, tone(0.5, 150));
        halo.setColorAt(0.6, tone(0.45, 50));
        halo.setColorAt(1.0, tone(0.4, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(halo);
        painter.drawEllipse(centre, 200, 200);

        // Segmented outer ring.
        for (int i = 0; i < 24; ++i) {
            QPainterPath segment;
            const qreal start = i * 15.0 + 2.0;
            segment.arcMoveTo(QRectF(centre.x() - 170, centre.y() - 170, 340, 340), start);
            segment.arcTo(QRectF(centre.x() - 170, centre.y() - 170, 340, 340), start, 11.0);
            segment.arcTo(QRectF(centre.x() - 152, centre.y() - 152, 304, 304), start + 11.0,
                          -11.0);
            segment.closeSubpath();
            painter.setPen(QPen(outline, 2));
            painter.setBrush(tone(i % 3 == 0 ? 0.62 : 0.42));
            painter.drawPath(segment);
        }
    }

    // The eye's almond.
    QPainterPath almond;
    almond.moveTo(centre.x() - 150, centre.y());
    almond.quadTo(centre.x(), centre.y() - 150, centre.x() + 150, centre.y());
    almond.quadTo(centre.x(), centre.y() + 150, centre.x() - 150, centre.y());
    QLinearGradient fill(centre.x(), centre.y() - 75, centre.x(), centre.y() + 75);
    fill.setColorAt(0, tone(0.58));
    fill.setColorAt(1, tone(0.3));
    painter.setPen(QPen(outline, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(fill);
    painter.drawPath(almond);

    // Iris, pupil and a highlight.
    QRadialGradient iris(centre, 62);
    iris.setColorAt(0, tone(0.78));
    iris.setColorAt(0.7, tone(0.5));
    iris.setColorAt(1, tone(0.34));
    painter.setPen(QPen(outline, 5));
    painter.setBrush(iris);
    painter.drawEllipse(centre, 62, 62);
    painter.setPen(QPen(outline, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 44, 44);
    painter.setPen(Qt::NoPen);
    painter.setBrush(outline);
    painter.drawEllipse(centre, 24, 24);
    painter.setBrush(tone(0.95));
    painter.drawEllipse(centre + QPointF(-9, -10), 7, 7);

    // Lashes: short bars above and below the almond.
    painter.setPen(QPen(outline, 9, Qt::SolidLine, Qt::RoundCap));
    for (int i = -2; i <= 2; ++i) {
        const QPointF base = centre + QPointF(i * 42, 0);
        painter.drawLine(base + QPointF(i * 6, -112 + std::abs(i) * 18),
                         base + QPointF(i * 9, -132 + std::abs(i) * 18));
    }
    painter.setPen(QPen(tone(0.55), 5, Qt::SolidLine, Qt::RoundCap));
    for (int i = -2; i <= 2; ++i) {
        const QPointF base = centre + QPointF(i * 42, 0);
        painter.drawLine(base + QPointF(i * 6, -112 + std::abs(i) * 18),
                         base + QPointF(i * 9, -132 + std::abs(i) * 18));
    }
}

void drawPattern(QImage& image) {
    drawEmblem(image, 1.0, true);
}
void drawPatternWhite(QImage& image) {
    drawEmblem(image, 0.0, true);
}
void drawEye(QImage& image) {
    drawEmblem(image, 1.0, false);
}
void drawEyeWhite(QImage& image) {
    drawEmblem(image, 0.0, false);
}

// Window buttons

enum class State { Normal, Hover, Pressed, Disabled };

void drawClose(QImage& image, State state) {
    SmoothPainter painter(image);
    QColor ink = kInkDim;
    if (state == State::Hover || state == State::Pressed) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(state == State::Hover ? QColor(0xc8, 0x34, 0x3c)
                                               : QColor(0x8c, 0x22, 0x29));
        painter.drawRoundedRect(QRectF(1, 1, 20, 20), 4, 4);
        ink = state == State::Hover ? QColor(Qt::white) : QColor(0xd8, 0xd8, 0xd8);
    } else if (state == State::Disabled) {
        ink = kDisabledInk;
    }
    painter.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(7, 7), QPointF(15, 15));
    painter.drawLine(QPointF(15, 7), QPointF(7, 15));
}

void drawMinimize(QImage& image, State state) {
    SmoothPainter painter(image);
    QColor ink = kInkDim;
    if (state == State::Hover || state == State::Pressed) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(state == State::Hover ? kEdgeStrong : kEdge);
        painter.drawRoundedRect(QRectF(1, 1, 20, 20), 4, 4);
        ink = state == State::Hover ? QColor(Qt::white) : kInk;
    } else if (state == State::Disabled) {
        ink = kDisabledInk;
    }
    painter.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(6.5, 14.5), QPointF(15.5, 14.5));
}

// The LED switch: a track with a knob, left and grey when off, right and lit when on.
void drawSwitch(QImage& image, bool on, bool hover) {
    SmoothPainter painter(image);
    const QRectF track(0.5, 0.5, 101, 22);
    if (on) {
        QLinearGradient fill(0, 0, 0, 23);
        fill.setColorAt(0, hover ? kAccentHover : kAccent);
        fill.setColorAt(1, hover ? kAccent : kAccentPressed);
        painter.setPen(QPen(hover ? kAccentHover : kAccent, 1));
        painter.setBrush(fill);
    } else {
        painter.setPen(QPen(hover ? QColor(0x55, 0x5c, 0x67) : kEdgeStrong, 1));
        painter.setBrush(hover ? QColor(0x30, 0x35, 0x3d) : kSurfaceRaised);
    }
    painter.drawRoundedRect(track, 11, 11);

    // "I" on the lit side, "O" on the dark side.
    if (on) {
        painter.setPen(QPen(QColor(255, 255, 255, 220), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(30, 7), QPointF(30, 16));
    } else {
        painter.setPen(QPen(hover ? kInk : kInkDim, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(72, 11.5), 4.5, 4.5);
    }

    const QPointF knob(on ? 90.5 : 11.5, 11.5);
    QRadialGradient knobFill(knob - QPointF(2, 3), 11);
    knobFill.setColorAt(0,
                        on ? QColor(Qt::white)
                           : QColor(hover ? 0xc4 : 0xa8, hover ? 0xc9 : 0xae, hover ? 0xd0 : 0xb6));
    knobFill.setColorAt(1, on ? QColor(0xdc, 0xe6, 0xee) : QColor(0x70, 0x76, 0x80));
    painter.setPen(QPen(QColor(0, 0, 0, 120), 1));
    painter.setBrush(knobFill);
    painter.drawEllipse(knob, 8.5, 8.5);
}

// Push buttons, drawn as border images: the corners keep their shape when stretched.
void drawButton(QImage& image, State state) {
    SmoothPainter painter(image);
    const QRectF frame(0.5, 0.5, image.width() - 1, image.height() - 1);
    QLinearGradient fill(0, 0, 0, image.height());
    QColor edge;
    switch (state) {
    case State::Normal:
        fill.setColorAt(0, QColor(0x2e, 0x34, 0x3d));
        fill.setColorAt(1, QColor(0x22, 0x27, 0x2e));
        edge = kEdgeStrong;
        break;
    case State::Hover:
        fill.setColorAt(0, QColor(0x26, 0x4a, 0x5e));
        fill.setColorAt(1, QColor(0x1d, 0x38, 0x48));
        edge = kAccent;
        break;
    case State::Pressed:
        fill.setColorAt(0, QColor(0x11, 0x6c, 0x90));
        fill.setColorAt(1, QColor(0x16, 0x84, 0xae));
        edge = kAccentHover;
        break;
    case State::Disabled:
        fill.setColorAt(0, kDisabledFill);
        fill.setColorAt(1, kDisabledFill);
        edge = kDisabledEdge;
        break;
    }
    painter.setPen(QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, 4, 4);
    if (state == State::Normal || state == State::Hover) {
        painter.setPen(QPen(QColor(255, 255, 255, 18), 1));
        painter.drawLine(QPointF(4, 1.5), QPointF(image.width() - 4, 1.5));
    }
}

// Radio indicators and check boxes

struct IndicatorLook {
    QColor ring;
    QColor fill;
    QColor mark; // invalid: unchecked
};

IndicatorLook radioLook(State state, bool checked, const QColor& accent,
                        const QColor& accentHover) {
    IndicatorLook look{kInkDim, kSurface, QColor()};
    const bool lit = state == State::Hover || state == State::Pressed;
    if (state == State::Disabled) {
        look = {kDisabledEdge, kDisabledFill, checked ? QColor(0x45, 0x4b, 0x53) : QColor()};
    } else if (checked) {
        look = {lit ? accentHover : accent, lit ? QColor(0x1f, 0x2a, 0x33) : kSurface,
                lit ? accentHover : accent};
    } else if (lit) {
        look = {accent, QColor(0x1f, 0x2a, 0x33), QColor()};
    }
    return look;
}

void drawRadio(QImage& image, const IndicatorLook& look) {
    SmoothPainter painter(image);
    const QPointF centre(10.5, 10.5);
    painter.setPen(QPen(look.ring, 1.5));
    painter.setBrush(look.fill);
    painter.drawEllipse(centre, 7.5, 7.5);
    if (look.mark.isValid()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(look.mark);
        painter.drawEllipse(centre, 4, 4);
    }
}

// The shutdown column's indicator: a rounded square, amber, so that the firmware's
// effect reads apart from the effect running now.
void drawShutdownRadio(QImage& image, State state) {
    SmoothPainter painter(image);
    const IndicatorLook look = radioLook(state, true, kAmber, kAmberHover);
    painter.setPen(QPen(look.ring, 1.5));
    painter.setBrush(look.fill);
    painter.drawRoundedRect(QRectF(3.5, 3.5, 14, 14), 4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.mark);
    painter.drawRoundedRect(QRectF(7, 7, 7, 7), 2, 2);
}

void drawCheckBox(QImage& image, State state, bool checked) {
    SmoothPainter painter(image);
    const IndicatorLook look = radioLook(state, checked, kAccent, kAccentHover);
    painter.setPen(QPen(look.ring, 1.5));
    painter.setBrush(checked && state != State::Disabled ? look.mark : look.fill);
    painter.drawRoundedRect(QRectF(3.5, 3.5, 14, 14), 3, 3);
    if (checked) {
        painter.setPen(QPen(state == State::Disabled ? look.mark : QColor(Qt::white), 2,
                            Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        QPainterPath tick;
        tick.moveTo(6.5, 10.5);
        tick.lineTo(9.5, 13.5);
        tick.lineTo(14.5, 7.5);
        painter.drawPath(tick);
    }
}

// Temperature badges: a thermometer, the unit drawn as strokes and the effect's
// green-to-red scale. The badge takes only the left of its label: the label reaches
// past the effects column's divider (x = 532 in the window, 102 pixels right of the
// badge's left edge), and the rest of the picture stays clear.
constexpr qreal kBadgeWidth = 95;

void drawTemperature(QImage& image, bool celsius, bool enabled) {
    SmoothPainter painter(image);
    painter.setPen(QPen(enabled ? kEdge : kDisabledEdge, 1));
    painter.setBrush(enabled ? kSurface : kDisabledFill);
    painter.drawRoundedRect(QRectF(0.5, 0.5, kBadgeWidth, 29), 5, 5);

    const QColor ink = enabled ? kInk : kDisabledInk;
    const QColor warm = enabled ? QColor(0xe8, 0x4a, 0x3a) : kDisabledInk;
    painter.setPen(QPen(ink, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(12, 5, 5, 14), 2.5, 2.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(warm);
    painter.drawEllipse(QPointF(14.5, 21), 4, 4);
    painter.drawRect(QRectF(13.5, 11, 2, 8));

    painter.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(29, 9), 2.5, 2.5);
    if (celsius) {
        painter.drawArc(QRectF(34, 7, 14, 16), 45 * 16, 270 * 16);
    } else {
        QPainterPath letter;
        letter.moveTo(46, 7.5);
        letter.lineTo(36, 7.5);
        letter.lineTo(36, 22.5);
        letter.moveTo(36, 15);
        letter.lineTo(43, 15);
        painter.drawPath(letter);
    }

    QLinearGradient scale(56, 0, kBadgeWidth - 8, 0);
    scale.setColorAt(0, enabled ? QColor(0x2e, 0xc4, 0x4a) : QColor(0x3a, 0x3d, 0x42));
    scale.setColorAt(0.5, enabled ? QColor(0xe6, 0xc2, 0x1e) : QColor(0x44, 0x47, 0x4c));
    scale.setColorAt(1, enabled ? QColor(0xe8, 0x3a, 0x2e) : QColor(0x4e, 0x51, 0x56));
    painter.setPen(Qt::NoPen);
    painter.setBrush(scale);
    painter.drawRoundedRect(QRectF(56, 13, kBadgeWidth - 8 - 56, 4), 2, 2);
}

// The wheel

constexpr QPointF kWheelCentre(76, 76);
constexpr float kRingInner = 54.0f;
constexpr float kRingOuter = 74.0f;

// The hue the wheel shows at a point: 0 (red) at the top, growing clockwise, one turn
// all round. It must agree with the hue the wheel applies for the thumb there.
float hueAt(float x, float y) {
    const float dx = x - float(kWheelCentre.x());
    const float dy = float(kWheelCentre.y()) - y;
    float turn = (kPi / 2 - std::atan2(dy, dx)) / (2 * kPi);
    if (turn < 0) {
        turn += 1;
    }
    return turn >= 1 ? turn - 1 : turn;
}

void drawHueWheel(QImage& image) {
    // The face behind the swatches, drawn first.
    {
        SmoothPainter painter(image);
        QRadialGradient face(kWheelCentre, kRingInner);
        face.setColorAt(0, QColor(0x1d, 0x21, 0x28));
        face.setColorAt(1, QColor(0x12, 0x14, 0x18));
        painter.setPen(QPen(QColor(0x06, 0x07, 0x09), 1.5));
        painter.setBrush(face);
        painter.drawEllipse(kWheelCentre, kRingInner - 1.5, kRingInner - 1.5);
        painter.setPen(QPen(QColor(0x06, 0x07, 0x09, 200), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(kWheelCentre, kRingOuter + 1, kRingOuter + 1);
    }
    image = straightAlpha(image);
    // The ring, one HSL hue per pixel centre.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const float inRing = coverage(x, y, [](float sx, float sy) {
                const float r =
                    std::hypot(sx - float(kWheelCentre.x()), sy - float(kWheelCentre.y()));
                return r >= kRingInner && r <= kRingOuter;
            });
            if (inRing == 0) {
                continue;
            }
            const QColor under = image.pixelColor(x, y);
            const QColor hue = QColor::fromHslF(hueAt(x + 0.5f, y + 0.5f), 1.0, 0.5);
            // Over what the painter drew at the ring's edges.
            const float a = inRing;
            const float b = under.alphaF() * (1 - a);
            const float alpha = a + b;
            const auto mix = [&](float top, float bottom) {
                return (top * a + bottom * b) / alpha;
            };
            image.setPixelColor(x, y,
                                QColor::fromRgbF(mix(hue.redF(), under.redF()),
                                                 mix(hue.greenF(), under.greenF()),
                                                 mix(hue.blueF(), under.blueF()), alpha));
        }
    }
}

// The thumb: a dark rim, a white ring and a saturated centre, which the thumb's tint
// turns to the hue beneath it.
void drawPicker(QImage& image) {
    SmoothPainter painter(image);
    const QPointF centre(9.5, 9.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x04, 0x05, 0x06, 200));
    painter.drawEllipse(centre, 9.5, 9.5);
    painter.setBrush(QColor(0xf6, 0xf7, 0xf8));
    painter.drawEllipse(centre, 8, 8);
    painter.setBrush(QColor(0x04, 0x05, 0x06));
    painter.drawEllipse(centre, 6, 6);
    painter.setBrush(QColor(255, 0, 0));
    painter.drawEllipse(centre, 5, 5);
}

// Half of the central disc, pure red everywhere (also where transparent): a tint gives
// every pixel exactly the chosen colour, and the top-centre pixel reads it back.
void drawSwatch(QImage& image, bool upper) {
    image = QImage(image.size(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool inHalf = upper ? y < 25 : y >= 25;
            const float inside = !inHalf ? 0.0f : coverage(x, y, [](float sx, float sy) {
                return std::hypot(sx - 25.0f, sy - 25.0f) <= 25.0f;
            });
            image.setPixel(x, y, qRgba(255, 0, 0, int(std::lround(inside * 255))));
        }
    }
}

// Covers over the wheel: a veil over the ring with a thin rim. The wheel clips them to
// its own 152 x 152.
void drawCover(QImage& image, const QColor& veil, const QColor& rim) {
    SmoothPainter painter(image);
    painter.setPen(QPen(rim, 1.5));
    painter.setBrush(veil);
    painter.drawEllipse(kWheelCentre, kRingOuter + 1.5, kRingOuter + 1.5);
}

// Brightness-slider grooves: a rounded bar, bright at the top (the slider's maximum)
// and dark at the bottom, with a near-black outline that tints leave dark. The sliders
// and their masks are 133 high and show the picture unscaled from the top, so the bar
// ends within that height.
void drawGroove(QImage& image, qreal saturation, qreal top, qreal bottom) {
    SmoothPainter painter(image);
    const QRectF bar(14.5, 4.5, 12, 133 - 9);
    QPainterPath shape;
    shape.addRoundedRect(bar, 6, 6);
    painter.setClipPath(shape);
    for (int y = 0; y < image.height(); ++y) {
        const qreal t = std::clamp((y - bar.top()) / bar.height(), 0.0, 1.0);
        painter.fillRect(QRectF(0, y, image.width(), 1),
                         QColor::fromHslF(0.0, saturation, top + (bottom - top) * t));
    }
    painter.setClipping(false);
    painter.setPen(QPen(QColor(0x05, 0x05, 0x06), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

void drawSliderHandle(QImage& image, bool enabled) {
    SmoothPainter painter(image);
    QLinearGradient fill(0, 0, 0, image.height());
    fill.setColorAt(0, enabled ? QColor(0xfa, 0xfb, 0xfc) : QColor(0x5a, 0x5e, 0x64));
    fill.setColorAt(1, enabled ? QColor(0xc6, 0xcc, 0xd3) : QColor(0x3e, 0x42, 0x48));
    painter.setPen(QPen(QColor(0x05, 0x05, 0x06, 220), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(0.5, 0.5, image.width() - 1, image.height() - 1), 4, 4);
    painter.setPen(QPen(enabled ? kAccent : kDisabledInk, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(7, image.height() / 2.0),
                     QPointF(image.width() - 7, image.height() / 2.0));
}

void drawNothing(QImage&) {}

const std::array kArtwork{
    // Window
    Artwork{"bg.png", {810, 504}, drawBackground},
    Artwork{"bg_off.png", {810, 504}, drawBackgroundOff},
    Artwork{"line.png", {41, 51}, drawLine},
    Artwork{"eye/pattern.png", {414, 504}, drawPattern},
    Artwork{"eye/pattern_w.png", {414, 504}, drawPatternWhite},
    Artwork{"eye/eye.png", {414, 504}, drawEye},
    Artwork{"eye/eye_w.png", {414, 504}, drawEyeWhite},
    Artwork{"window/close_n.png",
            {22, 22},
            [](QImage& i) {
                drawClose(i, State::Normal);
            }},
    Artwork{"window/close_o.png",
            {22, 22},
            [](QImage& i) {
                drawClose(i, State::Hover);
            }},
    Artwork{"window/close_d.png",
            {22, 22},
            [](QImage& i) {
                drawClose(i, State::Pressed);
            }},
    Artwork{"window/close_un.png",
            {22, 22},
            [](QImage& i) {
                drawClose(i, State::Disabled);
            }},
    Artwork{"window/mini_n.png",
            {22, 22},
            [](QImage& i) {
                drawMinimize(i, State::Normal);
            }},
    Artwork{"window/mini_o.png",
            {22, 22},
            [](QImage& i) {
                drawMinimize(i, State::Hover);
            }},
    Artwork{"window/mini_d.png",
            {22, 22},
            [](QImage& i) {
                drawMinimize(i, State::Pressed);
            }},
    Artwork{"window/mini_un.png",
            {22, 22},
            [](QImage& i) {
                drawMinimize(i, State::Disabled);
            }},
    Artwork{"switch/off_n.png",
            {102, 23},
            [](QImage& i) {
                drawSwitch(i, false, false);
            }},
    Artwork{"switch/off_o.png",
            {102, 23},
            [](QImage& i) {
                drawSwitch(i, false, true);
            }},
    Artwork{"switch/on_n.png",
            {102, 23},
            [](QImage& i) {
                drawSwitch(i, true, false);
            }},
    Artwork{"switch/on_o.png",
            {102, 23},
            [](QImage& i) {
                drawSwitch(i, true, true);
            }},
    Artwork{"button/n.png",
            {116, 26},
            [](QImage& i) {
                drawButton(i, State::Normal);
            }},
    Artwork{"button/o.png",
            {116, 26},
            [](QImage& i) {
                drawButton(i, State::Hover);
            }},
    Artwork{"button/d.png",
            {116, 26},
            [](QImage& i) {
                drawButton(i, State::Pressed);
            }},
    Artwork{"button/un.png",
            {116, 26},
            [](QImage& i) {
                drawButton(i, State::Disabled);
            }},
    Artwork{"radiobutton/n.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Normal, false, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/o.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Hover, false, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/un.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Disabled, false, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/d.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Normal, true, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/do.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Hover, true, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/dun.png",
            {21, 21},
            [](QImage& i) {
                drawRadio(i, radioLook(State::Disabled, true, kAccent, kAccentHover));
            }},
    Artwork{"radiobutton/shutdown_d.png",
            {21, 21},
            [](QImage& i) {
                drawShutdownRadio(i, State::Normal);
            }},
    Artwork{"radiobutton/shutdown_do.png",
            {21, 21},
            [](QImage& i) {
                drawShutdownRadio(i, State::Hover);
            }},
    Artwork{"radiobutton/shutdown_dun.png",
            {21, 21},
            [](QImage& i) {
                drawShutdownRadio(i, State::Disabled);
            }},
    Artwork{"check_box/check_n.png",
            {21, 21},
            [](QImage& i) {
                drawCheckBox(i, State::Normal, false);
            }},
    Artwork{"check_box/check_o.png",
            {21, 21},
            [](QImage& i) {
                drawCheckBox(i, State::Hover, false);
            }},
    Artwork{"check_box/check_un.png",
            {21, 21},
            [](QImage& i) {
                drawCheckBox(i, State::Disabled, false);
            }},
    Artwork{"check_box/check_d.png",
            {21, 21},
            [](QImage& i) {
                drawCheckBox(i, State::Normal, true);
            }},
    Artwork{"check_box/check_do.png",
            {21, 21},
            [](QImage& i) {
                drawCheckBox(i, State::Hover, true);
            }},
    Artwork{"temperature/C.png",
            {130, 30},
            [](QImage& i) {
                drawTemperature(i, true, true);
            }},
    Artwork{"temperature/C_un.png",
            {130, 30},
            [](QImage& i) {
                drawTemperature(i, true, false);
            }},
    Artwork{"temperature/F.png",
            {130, 30},
            [](QImage& i) {
                drawTemperature(i, false, true);
            }},
    Artwork{"temperature/F_un.png",
            {130, 30},
            [](QImage& i) {
                drawTemperature(i, false, false);
            }},
    // Colour picker
    Artwork{"color_picker/Hue.png", {152, 152}, drawHueWheel},
    Artwork{"color_picker/picker.png", {19, 19}, drawPicker},
    Artwork{"color_picker/present_color.png",
            {50, 50},
            [](QImage& i) {
                drawSwatch(i, true);
            }},
    Artwork{"color_picker/previous_color.png",
            {50, 50},
            [](QImage& i) {
                drawSwatch(i, false);
            }},
    Artwork{"color_picker/colorcover_un.png",
            {200, 166},
            [](QImage& i) {
                drawCover(i, QColor(0x0e, 0x10, 0x14, 205), kEdge);
            }},
    Artwork{"color_picker/colorcover_o.png",
            {200, 166},
            [](QImage& i) {
                drawCover(i, QColor(0x14, 0x18, 0x1e, 170), kAccent);
            }},
    Artwork{"color_picker/dark_cover.png",
            {200, 166},
            [](QImage& i) {
                drawCover(i, QColor(0x05, 0x06, 0x08, 235), kDisabledEdge);
            }},
    Artwork{"color_picker/color_n.png",
            {41, 145},
            [](QImage& i) {
                drawGroove(i, 1.0, 0.82, 0.1);
            }},
    Artwork{"color_picker/color_un.png",
            {41, 145},
            [](QImage& i) {
                drawGroove(i, 0.0, 0.34, 0.12);
            }},
    Artwork{"color_picker/white_n.png",
            {41, 145},
            [](QImage& i) {
                drawGroove(i, 0.0, 0.96, 0.16);
            }},
    Artwork{"color_picker/white_un.png",
            {41, 145},
            [](QImage& i) {
                drawGroove(i, 0.0, 0.3, 0.1);
            }},
    Artwork{"color_picker/empty.png", {41, 133}, drawNothing},
    Artwork{"color_picker/thumb.png",
            {27, 11},
            [](QImage& i) {
                drawSliderHandle(i, true);
            }},
    Artwork{"color_picker/thumb_un.png",
            {27, 11},
            [](QImage& i) {
                drawSliderHandle(i, false);
            }},
};

} // namespace

std::span<const Artwork> panelArtwork() {
    return kArtwork;
}

QImage drawArtwork(const Artwork& artwork) {
    QImage image(artwork.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    artwork.draw(image);
    return straightAlpha(image);
}
