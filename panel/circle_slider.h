#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

class CircleSliderThumb;
class ClickableLabel;
class QLabel;
class QMouseEvent;

// The hue wheel: a thumb dragged along a circle over the wheel face, and in the middle
// two half-swatches, the colour being chosen above the colour last applied.
//
// A position is an angle in radians from origin, growing clockwise unless told
// otherwise; its normalised value is the hue. While the thumb is dragged the live
// position follows the pointer and onPositionChanging reports it; position itself
// changes only when the thumb is let go, or when it is set.
class CircleSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(float origin READ origin WRITE setOrigin)
    Q_PROPERTY(float position READ position WRITE setPosition)
    Q_PROPERTY(QPoint centre READ centre WRITE setCentre)
    Q_PROPERTY(float radius READ radius WRITE setRadius)
    Q_PROPERTY(bool clockwise READ clockwise WRITE setClockwise)

public:
    explicit CircleSlider(QWidget* parent = nullptr);

    float origin() const { return origin_; }
    void setOrigin(float origin);
    float position() const { return position_; }
    void setPosition(float position);
    // centre, radius and clockwise take effect at the next placeThumb().
    QPoint centre() const { return centre_; }
    void setCentre(const QPoint& centre) { centre_ = centre; }
    float radius() const { return radius_; }
    void setRadius(float radius) { radius_ = radius; }
    bool clockwise() const { return clockwise_; }
    void setClockwise(bool clockwise) { clockwise_ = clockwise; }

    float livePosition() const { return livePosition_; }

    // Puts the thumb on the circle at position and gives it the live hue.
    void placeThumb();
    void refreshThumb();

    // The colour the present swatch shows, opaque.
    QColor presentColor() const;
    float presentLightness() const { return presentLightness_; }
    void setPresentLightness(float lightness);
    void setPreviousLightness(float lightness);

    void setCoverVisible(bool visible);
    ClickableLabel* cover() const { return cover_; }

signals:
    void onPositionChanged();
    void onPositionChanging(float position);

public slots:
    void onThumbMouseMove(QMouseEvent* event);
    void onThumbMousePress(QMouseEvent* event);
    void onThumbMouseRelease(QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The angle on the circle of a thumb whose top-left corner is at (px, py).
    float angleAt(int px, int py) const;
    // The top-left corner of the thumb at angle on the circle.
    QPoint thumbCorner(float angle) const;
    float angleOf(float position) const;
    float positionOf(float angle) const;
    void tintSwatches();

    CircleSliderThumb* thumb_;
    QLabel* presentSwatch_;
    QLabel* previousSwatch_;
    ClickableLabel* cover_;
    float origin_ = -1.5707963f;
    float position_ = 0.0f;
    float livePosition_ = 0.0f;
    QPoint centre_;
    float radius_ = 0.0f;
    bool clockwise_ = true;
    bool dragging_ = false;
    QPoint pressPoint_;
    float thumbAngle_ = 0.0f;
    QImage hueImage_;
    float presentLightness_ = 0.5f;
    float previousLightness_ = 0.5f;
};
