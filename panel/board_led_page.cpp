#include "panel/board_led_page.h"

#include "panel/board_led_device.h"
#include "panel/circle_slider.h"
#include "panel/light_slider.h"
#include "panel/panel_settings.h"
#include "panel/service_client.h"
#include "panel/viruv.h"
#include "ui_viruv.h"

#include <QColor>

namespace {

constexpr float kTurn = 6.283185f;
// Below this saturation the stored colour reads as white.
constexpr double kWhiteSaturation = 0.2;
constexpr double kDimFactor = 0.7;

// Service modes: no software effect, Music Effect, CPU Temperature.
constexpr int kNoServiceMode = 0;
constexpr int kMusicMode = 1;
constexpr int kTemperatureMode = 2;

const panel::ServiceClient& service() {
    static const panel::ServiceClient client;
    return client;
}

QColor colorOfWord(std::uint32_t word) {
    return QColor(int(word & 0xFF), int(word >> 8 & 0xFF), int(word >> 16 & 0xFF));
}

} // namespace

BoardLedPage::BoardLedPage(Ui::vodozOzava* form, viruv* window, int argument)
    : form_(form), window_(window), argument_(argument) {}

BoardLedPage::~BoardLedPage() = default;

BoardLedDevice& BoardLedPage::device() {
    if (!device_)
        device_.reset(createDevice());
    return *device_;
}

BoardLedDevice* BoardLedPage::createDevice() {
    return new BoardLedDevice;
}

void BoardLedPage::load() {
    // A read that fails is not a value: with the bridge not up yet at log-on, the
    // lighting would read as off and the switch's handler would stop the user's effect
    // and overwrite what they saved. Then the window shows what the panel has stored,
    // writes nothing, and the next read that succeeds (or the user) decides.
    const std::optional<bool> lighting = device().readLightingOn();
    const std::optional<std::uint32_t> storedWord = device().readStoredWord();
    stateRead_ = lighting && storedWord;
    if (lighting)
        form_->ledSwitch->setChecked(*lighting);

    const std::uint32_t word =
        storedWord.value_or(std::uint32_t(panel::PanelSettings::kDefaultLedMode));
    const std::uint32_t stored = BoardLedDevice::colorOf(word);
    qreal h = 0, s = 0, l = 0;
    colorOfWord(stored).getHslF(&h, &s, &l);
    if (h < 0)
        h += 1;
    window_->hue = float(h) * kTurn;
    window_->wheel->setPosition(window_->hue);
    window_->wheel->refreshThumb();

    window_->lightness = float(l);
    const int colorValue = lightnessToColorSlider(float(l));
    const int whiteValue = lightnessToWhiteSlider(float(l));
    form_->grayLightSlider->setValue(whiteValue);
    window_->colorLightSlider->setValue(colorValue);
    window_->setLightMode(s < kWhiteSaturation ? 0 : 1);

    bool softwareEffect = false;
    const int mode = service().getServiceMode();
    if (mode == kMusicMode) {
        if (stateRead_)
            device().enableSoftwareControl();
        form_->radioMusic->setChecked(true);
        softwareEffect = true;
    } else if (mode == kTemperatureMode) {
        if (stateRead_)
            device().enableSoftwareControl();
        form_->radioThermal->setChecked(true);
        form_->thermalCelsius->show();
        softwareEffect = true;
    }

    const int effect = BoardLedDevice::effectOf(word);
    if (softwareEffect) {
        if (effect >= BoardLedDevice::kStatic && effect <= BoardLedDevice::kRainbow)
            window_->shutdownRadios[effect - 1]->setChecked(true);
        return;
    }
    // With no software effect running, the firmware is given the stored effect again:
    // it may have lost it, or another program may have changed it.
    if (effect >= BoardLedDevice::kStatic && effect <= BoardLedDevice::kRainbow) {
        window_->primaryRadios[effect - 1]->setChecked(true);
        window_->shutdownRadios[effect - 1]->setChecked(true);
        if (stateRead_)
            device().applyEffect(effect, effect == BoardLedDevice::kRainbow ? 0 : stored);
    }
}

void BoardLedPage::setLightingOn(bool on) {
    // The service would go on driving dark LEDs otherwise.
    if (!on)
        service().setServiceMode(kNoServiceMode);
    device().setLightingOn(on);
}

void BoardLedPage::apply() {
    qreal h = 0, s = 0, l = 0;
    window_->wheel->presentColor().getHslF(&h, &s, &l);
    // The lightness at full precision: the panel's home platform carries it to the
    // colour conversion unrounded, and white at 100 must come out as grey 179, the
    // grey the factory effect word holds.
    if (window_->isWhiteMode()) {
        l = whiteLightness(form_->grayLightSlider->value());
        s = 0;
    } else {
        l = colorLightness(window_->colorLightSlider->value());
    }
    const QColor color = QColor::fromHslF(h, s, l, 1.0);
    const std::uint32_t word = std::uint32_t(color.red()) | std::uint32_t(color.green()) << 8 |
                               std::uint32_t(color.blue()) << 16;
    window_->wheel->setPreviousLightness(window_->wheel->presentLightness());

    switch (window_->effectIndex) {
    case 0:
        device().applyEffect(BoardLedDevice::kStatic, word);
        break;
    case 1:
        device().applyEffect(BoardLedDevice::kPulsating, word);
        break;
    case 2:
        device().applyEffect(BoardLedDevice::kStrobing, word);
        break;
    case 3:
        device().applyEffect(BoardLedDevice::kRainbow, 0);
        break;
    default:
        break;
    }

    for (QRadioButton* radio : window_->softwareRadios) {
        if (!radio->isChecked())
            continue;
        if (window_->softwareIndex == 0) {
            device().enableSoftwareControl();
            service().setServiceMode(kMusicMode);
        } else if (window_->softwareIndex == 1) {
            device().enableSoftwareControl();
            service().setServiceMode(kTemperatureMode);
        }
        return;
    }
    service().setServiceMode(kNoServiceMode);
}

void BoardLedPage::updateOffMask() {
    form_->bg_mask->setVisible(!device().isLightingOn());
    form_->bg_mask->setAttribute(Qt::WA_TransparentForMouseEvents);
    form_->bg_mask->raise();
    form_->ledSwitch->raise();
}

double BoardLedPage::colorLightness(int value) {
    const double lightness = double(value) / 100 * 0.4 + 0.1;
    return isDimmed() ? lightness * kDimFactor : lightness;
}

double BoardLedPage::whiteLightness(int value) {
    const double lightness = double(value) / 100 * 0.9 + 0.1;
    return isDimmed() ? lightness * kDimFactor : lightness;
}

float BoardLedPage::colorSliderToLightness(int value) {
    return float(colorLightness(value));
}

int BoardLedPage::lightnessToColorSlider(float lightness) {
    const float x = float(isDimmed() ? lightness / kDimFactor : lightness);
    return int(float((x - 0.1) / 0.4 * 100));
}

float BoardLedPage::whiteSliderToLightness(int value) {
    return float(whiteLightness(value));
}

int BoardLedPage::lightnessToWhiteSlider(float lightness) {
    const float x = float(isDimmed() ? lightness / kDimFactor : lightness);
    return int(float((x - 0.1) / 0.9 * 100));
}

bool BoardLedPage::isDimmed() {
    return true;
}
