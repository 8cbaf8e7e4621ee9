#pragma once

#include "panel/light_page.h"

#include <memory>

class viruv;

namespace Ui {
class vodozOzava;
}

// The page of the board's LEDs: reads the firmware, the settings file and the service's
// mode into the window, and commits the window's choice to all three.
class BoardLedPage : public LightPage {
public:
    BoardLedPage(Ui::vodozOzava* form, viruv* window, int argument = -1);
    ~BoardLedPage() override;

    void load() override;
    void setLightingOn(bool on) override;
    void apply() override;
    void updateOffMask() override;
    float colorSliderToLightness(int value) override;
    int lightnessToColorSlider(float lightness) override;
    float whiteSliderToLightness(int value) override;
    int lightnessToWhiteSlider(float lightness) override;
    bool isDimmed() override;
    BoardLedDevice* createDevice() override;

    // Whether the last load read the lighting item and the stored effect; when not,
    // it changed nothing and the window shows the stored or factory choice.
    bool stateRead() const { return stateRead_; }

private:
    BoardLedDevice& device();
    // The slider mappings before they are narrowed to float.
    double colorLightness(int value);
    double whiteLightness(int value);

    Ui::vodozOzava* form_;
    viruv* window_;
    int argument_;
    std::unique_ptr<BoardLedDevice> device_;
    bool stateRead_ = false;
};
