#pragma once

#include <QSlider>

// The colour-brightness slider: its groove shows the brightness range in the chosen hue.
// The window's style sheet leaves QSlider's own groove transparent so that it shows.
class LightSlider : public QSlider {
public:
    explicit LightSlider(QWidget* parent = nullptr);

    float hue() const { return hue_; }
    // hue from 0 to 1.
    void setHue(float hue);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float hue_ = 0.0f;
};
