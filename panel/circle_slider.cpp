#include "panel/circle_slider.h"

#include "panel/circle_slider_thumb.h"
#include "panel/clickable_label.h"
#include "panel/tint_image.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <cmath>

namespace {
const char* const kHueImage = ":/viruv/Resources/color_picker/Hue.png";
const char* const kPresentImage = ":/viruv/Resources/color_picker/present_color.png";
const char* const kPreviousImage = ":/viruv/Resources/color_picker/previous_color.png";
} // namespace

CircleSlider::CircleSlider(QWidget* parent)
    : QWidget(parent), thumb_(new CircleSliderThumb(this)), presentSwatch_(new QLabel(this)),
      previousSwatch_(new QLabel(this)), cover_(new ClickableLabel(this)), hueImage_(kHueImage) {
    presentSwatch_->setGeometry(50, 50, 50, 50);
    previousSwatch_->setGeometry(50, 50, 50, 50);
    connect(thumb_, &CircleSliderThumb::onMouseMove, this, &CircleSlider::onThumbMouseMove);
    connect(thumb_, &CircleSliderThumb::onMousePress, this, &CircleSlider::onThumbMousePress);
    connect(thumb_, &CircleSliderThumb::onMouseRelease, this, &CircleSlider::onThumbMouseRelease);

    // Created last, so it lies over the thumb and the swatches.
    cover_->setText(QString());
    cover_->setStyleSheet(
        "background-repeat: no-repeat; "
        "background-image: url(:/viruv/Resources/color_picker/colorcover_un.png);");
    cover_->setGeometry(0, 0, 200, 166);
    cover_->hide();

    placeThumb();
    presentLightness_ = previousLightness_ = 0.5f;
    tintSwatches();
}

void CircleSlider::setOrigin(float origin) {
    if (origin != origin_) {
        origin_ = origin;
        placeThumb();
    }
}

void CircleSlider::setPosition(float position) {
    if (position == position_) {
        return;
    }
    position_ = livePosition_ = position;
    placeThumb();
    tintSwatches();
    emit onPositionChanged();
}

float CircleSlider::angleOf(float position) const {
    return clockwise_ ? origin_ - position : origin_ + position;
}

float CircleSlider::positionOf(float angle) const {
    return clockwise_ ? origin_ - angle : angle - origin_;
}

QPoint CircleSlider::thumbCorner(float angle) const {
    // Single precision and truncation toward zero throughout: origin's literal sits one
    // step below π/2 so that cos() lands just under zero and the top position comes out
    // on the centre column.
    const int x = int(std::cos(angle) * radius_ + float(centre_.x())) - thumb_->width() / 2;
    const int y = int(float(centre_.y()) - std::sin(angle) * radius_) - thumb_->height() / 2;
    return QPoint(x, y);
}

float CircleSlider::angleAt(int px, int py) const {
    const int dx = px + thumb_->width() / 2 - centre_.x();
    const int dy = centre_.y() - (py + thumb_->height() / 2);
    if (dx == 0 && dy == 0) {
        // No direction at all: the quotient below would be 0 / 0.
        return 0.0f;
    }
    float angle = std::asin(float(dy) / std::sqrt(float(dx * dx + dy * dy)));
    if (dx < 0) {
        angle = 3.1415925f - angle;
    }
    return angle;
}

void CircleSlider::placeThumb() {
    thumb_->move(thumbCorner(angleOf(position_)));
    refreshThumb();
    update();
}

void CircleSlider::refreshThumb() {
    thumb_->setHue(normalisedHue(livePosition_));
    thumb_->update();
}

QColor CircleSlider::presentColor() const {
    // The swatch's own tinted picture, not the screen: whatever covers the swatch (the
    // cover, another window) would otherwise be read as the colour to apply.
    const QImage image =
        tintedPicture(kPresentImage, normalisedHue(livePosition_), presentLightness_);
    const QColor colour = image.pixelColor(presentSwatch_->width() / 2, 0);
    return QColor(colour.red(), colour.green(), colour.blue());
}

void CircleSlider::setPresentLightness(float lightness) {
    presentLightness_ = lightness;
    tintImage(livePosition_, lightness, presentSwatch_, kPresentImage);
}

void CircleSlider::setPreviousLightness(float lightness) {
    previousLightness_ = lightness;
    tintImage(livePosition_, lightness, previousSwatch_, kPreviousImage);
}

void CircleSlider::setCoverVisible(bool visible) {
    if (cover_->isVisible() != visible) {
        cover_->setVisible(visible);
    }
}

void CircleSlider::tintSwatches() {
    tintImage(livePosition_, presentLightness_, presentSwatch_, kPresentImage);
    tintImage(livePosition_, previousLightness_, previousSwatch_, kPreviousImage);
}

void CircleSlider::onThumbMousePress(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        dragging_ = false;
        return;
    }
    dragging_ = true;
    pressPoint_ = event->pos();
    thumbAngle_ = angleOf(position_);
}

void CircleSlider::onThumbMouseMove(QMouseEvent* event) {
    if (!dragging_) {
        return;
    }
    const int px = thumb_->x() - pressPoint_.x() + event->x();
    const int py = thumb_->y() - pressPoint_.y() + event->y();
    const float angle = angleAt(px, py);
    thumbAngle_ = angle;
    livePosition_ = positionOf(angle);
    tintSwatches();
    refreshThumb();

    // Near the wheel's top and left edges the thumb would leave the widget; it waits
    // there while the hue goes on following the pointer.
    const QPoint corner = thumbCorner(angle);
    if (corner.x() >= 1 && corner.y() >= 1) {
        thumb_->move(corner);
        update();
    }
    emit onPositionChanging(positionOf(angle));
}

void CircleSlider::onThumbMouseRelease(QMouseEvent* /*event*/) {
    if (!dragging_) {
        return;
    }
    dragging_ = false;
    // Unmoved, the thumb commits nothing: origin - (origin - position) need not give
    // position back exactly in single precision.
    const bool moved = thumbAngle_ != angleOf(position_);
    const float position = positionOf(thumbAngle_);
    if (moved && position != position_) {
        position_ = livePosition_ = position;
        placeThumb();
        tintSwatches();
        emit onPositionChanged();
    }
    placeThumb();
}

void CircleSlider::paintEvent(QPaintEvent* /*event*/) {
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    painter.drawImage(0, 0, hueImage_);
}
