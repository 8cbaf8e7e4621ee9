#pragma once

// The control panel's own window, driven the way its user drives it: radio buttons
// clicked, the wheel's thumb dragged, Apply pressed. Everything the window does on
// those clicks (the firmware items, the settings file, the service's mode) is the
// panel's own code; this only moves the pointer.

#include <QImage>
#include <memory>

class viruv;

namespace tour {

class PanelDriver {
public:
    // Opens the window as the panel program does (its resources once per process).
    PanelDriver();
    ~PanelDriver();

    // Clicks the radio button of that object name; false when the window has none
    // or it is disabled.
    bool click(const char* radioName);
    // Brings the colour controls if the wheel is covered, then drags the thumb to the
    // hue (degrees, clockwise from the top as on the wheel).
    void pickHue(double degrees);
    // Presses Apply; false when it is disabled (the window saw nothing to commit).
    bool apply();
    QImage screenshot();

private:
    std::unique_ptr<viruv> window_;
};

} // namespace tour
