#include "panel/viruv.h"

#include "os/com_apartment.h"
#include "panel/board_led_page.h"
#include "panel/circle_slider.h"
#include "panel/clickable_label.h"
#include "panel/light_slider.h"
#include "panel/tint_image.h"
#include "ui_viruv.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

namespace {

// How often a start-up that could not read the state tries again: the bridge comes up
// within seconds of log-on.
constexpr int kStateRetryMs = 2000;

const QString kPattern = QStringLiteral(":/viruv/Resources/eye/pattern.png");
const QString kWhitePattern = QStringLiteral(":/viruv/Resources/eye/pattern_w.png");

// The slider paints its own gradient behind these transparent images.
const char* const kColorSliderStyle =
    "QSlider{background-image: url(:/viruv/Resources/color_picker/empty.png);}\n"
    "QSlider::groove:vertical{border-image: url(:/viruv/Resources/color_picker/empty.png);}\n"
    "QSlider::groove:vertical:disabled{"
    "border-image: url(:/viruv/Resources/color_picker/empty.png);}\n"
    "QSlider::handle:vertical{image: url(:/viruv/Resources/color_picker/thumb.png); "
    "height: 11px; margin: 0px -4px;}\n"
    "QSlider::handle:vertical:disabled{"
    "image: url(:/viruv/Resources/color_picker/thumb_un.png);}";

} // namespace

viruv::viruv(QWidget* parent) : QMainWindow(parent), ui(new Ui::vodozOzava) {
    ui->setupUi(this);

    setWindowFlags(Qt::FramelessWindowHint);
    ui->minimizeButton->hide();

    wheel = new CircleSlider(this);
    wheel->setGeometry(549, 114, 152, 152);
    wheel->raise();
    wheel->setProperty("centre", QPoint(76, 76));
    wheel->setProperty("radius", 64);
    wheel->setProperty("origin", 1.5707963);

    ui->bg_mask->setGeometry(0, 0, 810, 504);
    ui->bg_mask->hide();

    connect(ui->closeButton, &QPushButton::clicked, this, &viruv::onClose);
    connect(ui->minimizeButton, &QPushButton::clicked, this, &viruv::onMinimize);
    connect(ui->applyButton, &QPushButton::clicked, this, &viruv::onApplyButton);
    connect(ui->defaultButton, &QPushButton::clicked, this, &viruv::onDefaultButton);
    connect(ui->ledSwitch, &QPushButton::toggled, this, &viruv::OnLedSwitchChanged);
    connect(ui->StartButton, &QPushButton::clicked, this, &viruv::OnStart);
    connect(ui->StopButton, &QPushButton::clicked, this, &viruv::OnStop);
    for (QRadioButton* radio :
         {ui->radioStatic, ui->radioPulsating, ui->radioStrobing, ui->radioRainbow})
        connect(radio, &QRadioButton::toggled, this, &viruv::OnPrimaryMode);
    for (QRadioButton* radio : {ui->radioMusic, ui->radioThermal})
        connect(radio, &QRadioButton::toggled, this, &viruv::onSecondaryMode);
    for (QRadioButton* radio : {ui->radioShutdownStatic, ui->radioShutdownPulsating,
                                ui->radioShutdownStrobing, ui->radioShutdownRainbow})
        connect(radio, &QRadioButton::toggled, this, &viruv::OnPrimaryMode);

    colorLightSlider = new LightSlider(this);
    colorLightSlider->setStyleSheet(kColorSliderStyle);
    colorLightSlider->setGeometry(0, 0, 41, 133);
    colorLightSlider->move(708, 109);
    colorLightSlider->setOrientation(Qt::Vertical);
    colorLightSlider->setMaximum(100);
    colorLightSlider->setValue(100);
    connect(wheel, &CircleSlider::onPositionChanged, this, &viruv::onHueChanged);
    connect(wheel, &CircleSlider::onPositionChanging, this, &viruv::onHueChanging);
    connect(colorLightSlider, &QSlider::valueChanged, this, &viruv::colorLightChanged);
    connect(ui->grayLightSlider, &QSlider::valueChanged, this, &viruv::grayLightChanged);

    primaryRadios = {ui->radioStatic, ui->radioPulsating, ui->radioStrobing, ui->radioRainbow};
    shutdownRadios = {ui->radioShutdownStatic, ui->radioShutdownPulsating,
                      ui->radioShutdownStrobing, ui->radioShutdownRainbow};
    softwareRadios = {ui->radioMusic, ui->radioThermal};

    // The page reaches the firmware and the service from this thread.
    os::ComApartment::enterForThread();

    ui->thermalCelsius->hide();
    ui->thermalFahrenheit->hide();
    ui->ThermalStartButton->hide();
    ui->ThermalStopButton->hide();
    ui->StartButton->hide();
    ui->StopButton->hide();

    hue = 0.0f;
    lightness = -1.0f;
    tintImage(0.0f, -1.0f, ui->logoTotem, kPattern);
    colorLightSlider->setHue(0.0f);

    ui->colorLightSliderMask->move(colorLightSlider->pos());
    ui->colorLightSliderMask->hide();
    ui->grayLightSliderMask->move(ui->grayLightSlider->pos());
    ui->grayLightSliderMask->show();

    connect(ui->colorLightSliderMask, &QPushButton::clicked, this, &viruv::OnColorLightClicked);
    connect(ui->grayLightSliderMask, &QPushButton::clicked, this, &viruv::OnGrayLightClicked);
    connect(wheel->cover(), &ClickableLabel::clicked, this, &viruv::OnColorLightClicked);

    page = std::make_unique<BoardLedPage>(ui.get(), this);
    page->load();
    ui->applyButton->setEnabled(false);
    if (!page->stateRead()) {
        stateRetry = new QTimer(this);
        stateRetry->setInterval(kStateRetryMs);
        connect(stateRetry, &QTimer::timeout, this, &viruv::retryUnreadState);
        stateRetry->start();
    }
}

void viruv::retryUnreadState() {
    // Whatever the user chose since stands; a drag in progress is left alone.
    if (ui->applyButton->isEnabled()) {
        stateRetry->stop();
        return;
    }
    if (QApplication::mouseButtons() != Qt::NoButton)
        return;
    page->load();
    ui->applyButton->setEnabled(false);
    if (page->stateRead())
        stateRetry->stop();
}

viruv::~viruv() = default;

bool viruv::isWhiteMode() const {
    return ui->grayLightSliderMask->isHidden();
}

void viruv::setLightMode(int mode) {
    lightMode = mode;
    // While the lighting is off the colour controls stay locked under the mask, also
    // when a radio checked at start-up asks for its presentation; the mode is what
    // they show when the lighting comes back.
    if (!ui->ledSwitch->isChecked())
        present(Presentation::Locked);
    else if (mode == 0)
        present(Presentation::White);
    else if (mode == 1)
        present(Presentation::Colour);
}

void viruv::present(Presentation presentation) {
    const bool white = presentation == Presentation::White;
    const bool colour = presentation == Presentation::Colour;
    const bool locked = presentation == Presentation::Locked;
    ui->colorLightSliderMask->setVisible(!colour);
    ui->grayLightSliderMask->setVisible(!white);
    colorLightSlider->setVisible(colour);
    ui->grayLightSlider->setVisible(white);
    wheel->setCoverVisible(!colour);
    ui->colorLightSliderMask->setEnabled(!locked);
    ui->grayLightSliderMask->setEnabled(!locked);
    wheel->setEnabled(!locked);
    colorLightSlider->setEnabled(!locked);
    ui->grayLightSlider->setEnabled(!locked);
    tintLogo(white ? kWhitePattern : kPattern);
}

void viruv::tintLogo(const QString& path) {
    tintImage(hue, lightness, ui->logoTotem, path);
}

void viruv::giveSliderHue(float angle) {
    colorLightSlider->setHue(normalisedHue(angle));
}

void viruv::setEffectControlsEnabled(bool enabled) {
    for (int i = 0; i < primaryRadios.size(); ++i) {
        primaryRadios[i]->setEnabled(enabled);
        shutdownRadios[i]->setEnabled(enabled);
    }
    for (QRadioButton* radio : softwareRadios)
        radio->setEnabled(enabled);
}

void viruv::OnStart() {}

void viruv::OnStop() {}

void viruv::OnLedSwitchChanged(bool checked) {
    // The switch is a choice of its own, or a state that was read after all.
    if (stateRetry)
        stateRetry->stop();
    ui->bg_mask->setVisible(!checked);
    // The switch and the window buttons stay usable above the mask.
    ui->bg_mask->raise();
    ui->ledSwitch->raise();
    ui->closeButton->raise();
    ui->minimizeButton->raise();

    page->setLightingOn(checked);
    setEffectControlsEnabled(checked);

    if (!checked) {
        wheel->lower();
        present(Presentation::Locked);
        return;
    }

    page->load();
    // Called directly, the handlers see the switch as sender and match no radio: the
    // choice stays, and only the presentation and the Shutdown column are restored.
    QRadioButton* found = nullptr;
    for (QRadioButton* radio : primaryRadios) {
        if (radio->isChecked()) {
            found = radio;
            OnPrimaryMode(true);
            break;
        }
    }
    if (!found) {
        for (QRadioButton* radio : softwareRadios) {
            if (radio->isChecked()) {
                found = radio;
                onSecondaryMode(true);
                break;
            }
        }
    }
    ui->applyButton->setEnabled(false);
    if (!found) {
        // Nothing was ever chosen: the factory choice is committed at once.
        onDefaultButton();
        page->apply();
        ui->applyButton->setEnabled(false);
    }
    wheel->raise();
}

void viruv::OnPrimaryMode(bool checked) {
    if (!checked)
        return;
    QObject* s = sender();
    for (int i = 0; i < primaryRadios.size(); ++i) {
        if (s == primaryRadios[i]) {
            effectIndex = i;
            shutdownRadios[i]->setChecked(true);
            // A firmware effect on the left is also the one kept at shutdown.
            if (ui->radioShutdownStatic->isEnabled()) {
                for (QRadioButton* radio : shutdownRadios)
                    radio->setEnabled(false);
            }
            ui->thermalCelsius->hide();
            ui->applyButton->setEnabled(true);
            break;
        }
        if (s == shutdownRadios[i]) {
            effectIndex = i;
            ui->applyButton->setEnabled(true);
            break;
        }
    }
    // Rainbow brings its own colours.
    if (s == ui->radioRainbow || s == ui->radioShutdownRainbow)
        present(Presentation::Locked);
    else
        setLightMode(lightMode);
}

void viruv::onSecondaryMode(bool checked) {
    if (!checked)
        return;
    QObject* s = sender();
    for (int i = 0; i < softwareRadios.size(); ++i) {
        if (s == softwareRadios[i])
            softwareIndex = i;
    }
    ui->thermalCelsius->setVisible(s == ui->radioThermal);
    setLightMode(lightMode);
    ui->applyButton->setEnabled(true);
    // The firmware effect programmed alongside the software one is the user's to pick,
    // once the lighting is on.
    for (QRadioButton* radio : shutdownRadios)
        radio->setEnabled(ui->ledSwitch->isChecked());
}

void viruv::onApplyButton() {
    page->apply();
    ui->applyButton->setEnabled(false);
}

void viruv::onDefaultButton() {
    lightMode = 0;
    present(Presentation::White);
    wheel->setProperty("position", 0);
    hue = 0.0f;
    tintImage(0.0f, lightness, ui->logoTotem, kPattern);
    colorLightSlider->setHue(0.0f);
    ui->grayLightSlider->setValue(100);
    lightness = page->whiteSliderToLightness(100);
    tintImage(hue, lightness, ui->logoTotem, kWhitePattern);
    ui->applyButton->setEnabled(true);
    ui->radioPulsating->setChecked(true);
    ui->applyButton->setEnabled(true);
}

void viruv::onMinimize() {
    showMinimized();
}

void viruv::onClose() {
    QCoreApplication::quit();
}

void viruv::onHueChanged() {
    giveSliderHue(hue);
    ui->applyButton->setEnabled(true);
}

void viruv::onHueChanging(float h) {
    hue = h;
    tintImage(h, lightness, ui->logoTotem, kPattern);
    giveSliderHue(h);
}

void viruv::colorLightChanged(int value) {
    const float l = page->colorSliderToLightness(value);
    wheel->setPresentLightness(l);
    wheel->setPreviousLightness(l);
    lightness = l;
    tintImage(hue, l, ui->logoTotem, kPattern);
    ui->applyButton->setEnabled(true);
}

void viruv::grayLightChanged(int value) {
    const float l = page->whiteSliderToLightness(value);
    lightness = l;
    tintImage(hue, l, ui->logoTotem, kWhitePattern);
    ui->applyButton->setEnabled(true);
}

void viruv::OnColorLightClicked() {
    lightMode = 1;
    present(Presentation::Colour);
}

void viruv::OnGrayLightClicked() {
    lightMode = 0;
    present(Presentation::White);
}
