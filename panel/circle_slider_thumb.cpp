#include "panel/circle_slider_thumb.h"

#include "panel/tint_image.h"

#include <QImage>
#include <QPalette>

namespace {
const char* const kPickerImage = ":/viruv/Resources/color_picker/picker.png";
}

CircleSliderThumb::CircleSliderThumb(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setAutoFillBackground(true);
    // A focus frame would be drawn over the picture; the thumb is only ever dragged.
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 19, 19);
    retint();
}

void CircleSliderThumb::setHue(float hue) {
    hue_ = hue;
    retint();
}

void CircleSliderThumb::retint() {
    const QImage image = tintedPicture(kPickerImage, hue_, -1.0f);
    QPalette palette = this->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(group, backgroundRole(), QBrush(image));
    }
    setPalette(palette);
    update();
}

void CircleSliderThumb::mousePressEvent(QMouseEvent* event) {
    emit onMousePress(event);
}

void CircleSliderThumb::mouseMoveEvent(QMouseEvent* event) {
    emit onMouseMove(event);
}

void CircleSliderThumb::mouseReleaseEvent(QMouseEvent* event) {
    emit onMouseRelease(event);
}
