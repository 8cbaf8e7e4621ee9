#pragma once

#include <QPushButton>

// The wheel's draggable thumb. It does no button handling of its own: presses, moves
// and releases go to the wheel, which decides where the thumb belongs.
class CircleSliderThumb : public QPushButton {
    Q_OBJECT

public:
    explicit CircleSliderThumb(QWidget* parent = nullptr);

    float hue() const { return hue_; }
    // hue from 0 to 1; the thumb's picture takes it at once.
    void setHue(float hue);

signals:
    void onMouseMove(QMouseEvent* event);
    void onMousePress(QMouseEvent* event);
    void onMouseRelease(QMouseEvent* event);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void retint();

    float hue_ = 0.0f;
};
