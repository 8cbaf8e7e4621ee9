#pragma once

class BoardLedDevice;

// What the window needs from whatever reads and programs the lighting: the current
// state into the controls, the user's choice out to the hardware and the service, and
// the mapping between slider positions and the lightness they stand for.
class LightPage {
public:
    virtual ~LightPage() = default;

    virtual void load() = 0;
    virtual void setLightingOn(bool on) = 0;
    virtual void apply() = 0;
    virtual void updateOffMask() = 0;
    virtual float colorSliderToLightness(int value) = 0;
    virtual int lightnessToColorSlider(float lightness) = 0;
    virtual float whiteSliderToLightness(int value) = 0;
    virtual int lightnessToWhiteSlider(float lightness) = 0;
    // A dimmed page keeps the LEDs below full brightness, which the board's diffuser
    // would otherwise wash out.
    virtual bool isDimmed() = 0;
    // A new device, owned by the caller.
    virtual BoardLedDevice* createDevice() = 0;
};
