// The control panel's window against the virtual board, the bridge stand-in and the
// lighting service, all on a bus of the test's own. One board and one bus serve every
// case (the item registry enumerates the firmware once per process); each case puts
// the lighting items, the settings file and the service's mode back first.

#include "board/bios_item.h"
#include "bus_monitor.h"
#include "panel/board_led_page.h"
#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/clickable_label.h"
#include "panel/light_slider.h"
#include "panel/panel_resources.h"
#include "panel/panel_settings.h"
#include "panel/service_client.h"
#include "panel/viruv.h"
#include "private_bus.h"
#include "settings/lighting_settings.h"
#include "test_environment.h"
#include "tools/tour/pointer.h"
#include "virtualboard/board.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

namespace {

using testing_support::ScopedEnvironment;
using tour::sendMouse;

constexpr std::uint32_t kSetItem = 4; // the bridge's iAcpiSetItem

struct ItemWrite {
    std::uint32_t id, value, control;
    bool operator==(const ItemWrite&) const = default;
};

QString describe(const std::vector<ItemWrite>& writes) {
    QStringList out;
    for (const ItemWrite& w : writes)
        out << QString("%1=%2/%3").arg(w.id, 0, 16).arg(w.value, 0, 16).arg(w.control);
    return out.join(", ");
}

double hueDistance(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void effectRadiosDriveTheShutdownColumnAndTheColourControls();
    void temperatureProgramsTheShutdownEffectThenHandsOverToTheService();
    void applyProgramsWhiteAndRainbow();
    void staticColourFromTheWheelThenMusic();
    void switchingOffStopsTheServiceFirstAndMasksTheWindow();
    void switchingOnWithNothingChosenCommitsTheFactoryChoice();
    void defaultAloneChangesNoHardware();
    void storedEffectsComeBackIntoTheControls();
    void aStartThatCannotReadChangesNothing_data();
    void aStartThatCannotReadChangesNothing();
    void startingWithTheLightingOffLocksAsSwitchingOffDoes();
    void aSecondPanelLeavesTheFirstAlone();

private:
    std::unique_ptr<viruv> makeWindow();
    template <typename T>
    T* child(const char* name) {
        T* widget = window_->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    std::vector<ItemWrite> itemWrites() const;
    std::int16_t serviceMode() const { return panel::ServiceClient().mode().value_or(-1); }
    void storeLedMode(std::uint32_t word) {
        panel::PanelSettings::instance().writeLedMode(panel::PanelSettings::kLedKey,
                                                      std::int32_t(word));
    }
    void saveScreenshot(const QImage& image, const QString& name);
    std::uint32_t effectWord() const {
        return board_->items().read(board::kLightingEffectItem).value_or(0);
    }
    std::unique_ptr<BusMonitor> monitor();

    std::optional<testing_support::TemporaryDirectory> directory_;
    std::unique_ptr<virtualboard::Board> board_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
    std::optional<testing_support::PrivateBus> bus_;
    std::optional<std::string> savedServiceSettings_;
    std::unique_ptr<viruv> window_;
    int monitors_ = 0;
};

std::filesystem::path serviceSettingsFile() {
    return std::filesystem::path(LUMIVANE_BINARY_DIR) / settings::LightingSettings::kFileName;
}

std::string contentsOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WindowTest::initTestCase() {
    initPanelResources();
    directory_.emplace();
    const std::filesystem::path dir = directory_->path();
    virtualboard::BoardOptions options;
    options.hostTemperature = false;
    options.temperature = 387;
    board_ = virtualboard::Board::create(dir / "board.img", options, dir / "firmware");
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    for (auto [name, value] :
         {std::pair<const char*, std::string>{"VBOARD_IMAGE", (dir / "board.img").string()},
          {"LUMIVANE_FIRMWARE_DIR", (dir / "firmware").string()},
          {"LUMIVANE_HWIO_DIR", LUMIVANE_BINARY_DIR},
          {"PULSE_SERVER", "unix:/nonexistent/lumivane"},
          {"XDG_CONFIG_HOME", (dir / "config").string()},
          {"XDG_RUNTIME_DIR", (dir / "runtime").string()}})
        environment_.push_back(std::make_unique<ScopedEnvironment>(name, value));

    // The service keeps its settings beside its executable, which is the build tree's.
    if (std::ifstream in{serviceSettingsFile(), std::ios::binary})
        savedServiceSettings_.emplace(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
    std::filesystem::remove(serviceSettingsFile());
    // After the board: what the bus starts inherits the environment above.
    bus_.emplace(LUMIVANE_BUS_DATA_DIR);
    QVERIFY(bus_->running());
}

void WindowTest::cleanupTestCase() {
    window_.reset();
    bus_.reset();
    std::filesystem::remove(serviceSettingsFile());
    if (savedServiceSettings_)
        std::ofstream(serviceSettingsFile(), std::ios::binary) << *savedServiceSettings_;
}

void WindowTest::init() {
    // The lighting on, the firmware driving the LEDs, no settings file, no software
    // effect: a panel started for the first time.
    board_->items().set(board::kLightingEnableItem, 1);
    board_->items().set(board::kLightingControlItem, 0);
    std::filesystem::remove(panel::PanelSettings::instance().path());
    panel::ServiceClient().setServiceMode(0);
    board_->bridge().clearCalls();
}

void WindowTest::cleanup() {
    window_.reset();
}

std::unique_ptr<viruv> WindowTest::makeWindow() {
    auto window = std::make_unique<viruv>();
    window->show();
    return window;
}

std::vector<ItemWrite> WindowTest::itemWrites() const {
    std::vector<ItemWrite> writes;
    for (const auto& call : board_->bridge().calls())
        if (call.method == kSetItem && call.status == 0)
            writes.push_back({call.arguments[0], call.arguments[1], call.arguments[2]});
    return writes;
}

std::unique_ptr<BusMonitor> WindowTest::monitor() {
    const QString file = QString::fromStdString(
        (directory_->path() / ("bus-" + std::to_string(++monitors_))).string());
    auto monitor = std::make_unique<BusMonitor>(QString::fromStdString(bus_->address()), file);
    if (!monitor->ready())
        qFatal("dbus-monitor did not start");
    return monitor;
}

void WindowTest::saveScreenshot(const QImage& image, const QString& name) {
    QDir().mkpath(LUMIVANE_SCREENSHOT_DIR);
    QVERIFY(image.save(QDir(LUMIVANE_SCREENSHOT_DIR).filePath(name + ".png")));
}

void WindowTest::effectRadiosDriveTheShutdownColumnAndTheColourControls() {
    window_ = makeWindow();
    auto* apply = child<QPushButton>("applyButton");
    auto* thermal = child<QLabel>("thermalCelsius");
    QVERIFY(!apply->isEnabled());
    QVERIFY(window_->isWhiteMode());

    child<QRadioButton>("radioStatic")->click();
    QVERIFY(child<QRadioButton>("radioShutdownStatic")->isChecked());
    for (const char* name : {"radioShutdownStatic", "radioShutdownPulsating",
                             "radioShutdownStrobing", "radioShutdownRainbow"})
        QVERIFY2(!child<QRadioButton>(name)->isEnabled(), name);
    QVERIFY(thermal->isHidden());
    QVERIFY(apply->isEnabled());

    // Rainbow needs no colour: both sliders give way to their masks, the wheel is covered.
    child<QRadioButton>("radioRainbow")->click();
    QVERIFY(child<QRadioButton>("radioShutdownRainbow")->isChecked());
    auto* wheel = window_->findChild<CircleSlider*>();
    QVERIFY(!wheel->isEnabled());
    QVERIFY(wheel->cover()->isVisible());
    QVERIFY(child<QPushButton>("colorLightSliderMask")->isVisible());
    QVERIFY(child<QPushButton>("grayLightSliderMask")->isVisible());
    QVERIFY(!child<QPushButton>("grayLightSliderMask")->isEnabled());
    QVERIFY(child<QSlider>("grayLightSlider")->isHidden());

    child<QRadioButton>("radioStatic")->click();
    QVERIFY(wheel->isEnabled());
    QVERIFY(window_->isWhiteMode());
    QVERIFY(child<QSlider>("grayLightSlider")->isVisible());
    QVERIFY(child<QPushButton>("grayLightSliderMask")->isEnabled());

    // The wheel's cover brings the colour controls; the grey mask brings white back.
    sendMouse(wheel->cover(), QEvent::MouseButtonPress, QPoint(20, 20));
    QVERIFY(!window_->isWhiteMode());
    QVERIFY(window_->findChild<LightSlider*>()->isVisible());
    QVERIFY(!wheel->cover()->isVisible());
    child<QRadioButton>("radioRainbow")->click();
    child<QRadioButton>("radioStatic")->click();
    QVERIFY(!window_->isWhiteMode());
    child<QPushButton>("grayLightSliderMask")->click();
    QVERIFY(window_->isWhiteMode());
}

void WindowTest::temperatureProgramsTheShutdownEffectThenHandsOverToTheService() {
    window_ = makeWindow();
    auto* thermal = child<QLabel>("thermalCelsius");
    child<QRadioButton>("radioThermal")->click();
    QVERIFY(thermal->isVisible());
    // The stored effect stays the Shutdown choice, now free to change.
    QVERIFY(child<QRadioButton>("radioShutdownPulsating")->isChecked());
    auto* strobing = child<QRadioButton>("radioShutdownStrobing");
    QVERIFY(strobing->isEnabled());
    child<QPushButton>("applyButton")->setEnabled(false);
    strobing->click();
    QVERIFY(child<QPushButton>("applyButton")->isEnabled());

    board_->bridge().clearCalls();
    auto bus = monitor();
    child<QPushButton>("applyButton")->click();
    QVERIFY(!child<QPushButton>("applyButton")->isEnabled());

    const std::vector<ItemWrite> writes = itemWrites();
    QVERIFY2(writes.size() >= 3, qPrintable(describe(writes)));
    const std::uint32_t word = writes[1].value;
    QCOMPARE(word & 0xFF, 3u);
    const std::vector<ItemWrite> expected{{board::kLightingControlItem, 0, 1},
                                          {board::kLightingEffectItem, word, 1},
                                          {board::kLightingControlItem, 1, 3}};
    QVERIFY2(std::vector<ItemWrite>(writes.begin(), writes.begin() + 3) == expected,
             qPrintable(describe(writes)));
    QCOMPARE(serviceMode(), std::int16_t(2));
    QVERIFY(QTest::qWaitFor(
        [&] {
            return inOrder(bus->events(),
                           {"item 13060041=0/1", QString("item 13060042=%1/1").arg(word, 0, 16),
                            "item 13060041=1/3", "Mode=2"});
        },
        5000));
}

void WindowTest::applyProgramsWhiteAndRainbow() {
    window_ = makeWindow();
    child<QRadioButton>("radioStatic")->click();
    QCOMPARE(child<QSlider>("grayLightSlider")->value(), 100);
    QVERIFY(window_->isWhiteMode());
    child<QPushButton>("applyButton")->click();
    // Lightness 0.7 without saturation, whatever the wheel shows.
    QCOMPARE(effectWord(), 0xB3B3B301u);
    QCOMPARE(board_->readout().ledView().source, virtualboard::LedView::Source::Firmware);

    child<QRadioButton>("radioRainbow")->click();
    board_->bridge().clearCalls();
    auto bus = monitor();
    child<QPushButton>("applyButton")->click();
    QCOMPARE(effectWord(), 4u);
    QVERIFY(QTest::qWaitFor(
        [&] {
            return inOrder(bus->events(), {"item 13060042=4/1", "Mode=0"});
        },
        5000));
}

void WindowTest::staticColourFromTheWheelThenMusic() {
    window_ = makeWindow();
    child<QRadioButton>("radioStatic")->click();
    auto* wheel = window_->findChild<CircleSlider*>();
    sendMouse(wheel->cover(), QEvent::MouseButtonPress, QPoint(20, 20));
    QVERIFY(!window_->isWhiteMode());

    // Drag the thumb a third of the way round, clockwise from the top: green.
    auto* thumb = wheel->findChild<CircleSliderThumb*>();
    const float angle = 1.5707963f - 2.0943951f;
    const QPoint corner(int(std::lround(76 + std::cos(angle) * 64)) - 9,
                        int(std::lround(76 - std::sin(angle) * 64)) - 9);
    child<QPushButton>("applyButton")->setEnabled(false);
    sendMouse(thumb, QEvent::MouseButtonPress, QPoint(9, 9));
    sendMouse(thumb, QEvent::MouseMove, corner - thumb->pos() + QPoint(9, 9));
    sendMouse(thumb, QEvent::MouseButtonRelease, corner - thumb->pos() + QPoint(9, 9));
    QVERIFY(child<QPushButton>("applyButton")->isEnabled());

    // A person sees the logo take the wheel's hue.
    const QImage colour = window_->grab().toImage();
    saveScreenshot(colour, "colour");
    int saturated = 0, green = 0;
    for (int y = 0; y < 413; y += 3)
        for (int x = 0; x < 405; x += 3) {
            const QColor pixel = colour.pixelColor(x, y);
            if (pixel.hslSaturationF() > 0.5 && pixel.lightnessF() > 0.15) {
                ++saturated;
                green += hueDistance(pixel.hslHue(), 120) < 12;
            }
        }
    QVERIFY2(saturated > 200, qPrintable(QString::number(saturated)));
    QVERIFY2(green > saturated * 9 / 10, qPrintable(QString("%1 of %2").arg(green).arg(saturated)));

    child<QPushButton>("applyButton")->click();
    const virtualboard::LedView leds = board_->readout().ledView();
    QCOMPARE(leds.source, virtualboard::LedView::Source::Firmware);
    QCOMPARE(leds.effectWord & 0xFF, 1u);
    const QColor shown(leds.color.red, leds.color.green, leds.color.blue);
    QVERIFY2(hueDistance(shown.hslHue(), 120) < 12, qPrintable(shown.name()));
    QCOMPARE(serviceMode(), std::int16_t(0));

    child<QRadioButton>("radioMusic")->click();
    child<QPushButton>("applyButton")->click();
    QCOMPARE(serviceMode(), std::int16_t(1));
    QCOMPARE(board_->items().read(board::kLightingControlItem), std::optional<std::uint32_t>(1));
}

void WindowTest::switchingOffStopsTheServiceFirstAndMasksTheWindow() {
    window_ = makeWindow();
    const QImage on = window_->grab().toImage();
    saveScreenshot(on, "white");
    // Apply is disabled until something changes, and looks it next to Default.
    const QPoint inApply = child<QPushButton>("applyButton")->geometry().topLeft() + QPoint(6, 6);
    const QPoint inDefault =
        child<QPushButton>("defaultButton")->geometry().topLeft() + QPoint(6, 6);
    QVERIFY(on.pixel(inApply) != on.pixel(inDefault));

    auto bus = monitor();
    child<QPushButton>("ledSwitch")->click();
    QCOMPARE(board_->items().read(board::kLightingEnableItem), std::optional<std::uint32_t>(0));
    QVERIFY(QTest::qWaitFor(
        [&] {
            return inOrder(bus->events(), {"Mode=0", "item 13060040=0/1"});
        },
        5000));
    // The supported board also cuts the LED supply in its register window.
    for (std::uint32_t offset : {0x480u, 0x490u}) {
        QCOMPARE(board_->readout().windowRegister(offset) & 0x300u, 0x200u);
    }

    auto* mask = child<QLabel>("bg_mask");
    QVERIFY(mask->isVisible());
    QCOMPARE(mask->geometry(), QRect(0, 0, 810, 504));
    for (auto* radio : window_->findChildren<QRadioButton*>())
        QVERIFY2(!radio->isEnabled(), qPrintable(radio->objectName()));
    QVERIFY(!window_->findChild<CircleSlider*>()->isEnabled());

    const QImage off = window_->grab().toImage();
    saveScreenshot(off, "off");
    // The mask darkens the window below the title bar; the switch stays on top.
    const QPoint inPanel(600, 380);
    QVERIFY(QColor(off.pixel(inPanel)).lightness() < QColor(on.pixel(inPanel)).lightness());
    QVERIFY(QColor(off.pixel(inApply)).lightness() < QColor(on.pixel(inApply)).lightness());
    auto* ledSwitch = child<QPushButton>("ledSwitch");
    QCOMPARE(window_->childAt(ledSwitch->geometry().center()), ledSwitch);

    ledSwitch->click();
    QCOMPARE(board_->items().read(board::kLightingEnableItem), std::optional<std::uint32_t>(1));
    for (std::uint32_t offset : {0x480u, 0x490u})
        QCOMPARE(board_->readout().windowRegister(offset) & 0x300u, 0x100u);
    QVERIFY(mask->isHidden());
    // The stored effect is checked again, so nothing is applied on its own.
    QVERIFY(child<QRadioButton>("radioPulsating")->isChecked());
    QVERIFY(!child<QPushButton>("applyButton")->isEnabled());
}

void WindowTest::switchingOnWithNothingChosenCommitsTheFactoryChoice() {
    storeLedMode(0);
    board_->items().set(board::kLightingEnableItem, 0);
    window_ = makeWindow();
    for (auto* radio : window_->findChildren<QRadioButton*>())
        QVERIFY2(!radio->isChecked(), qPrintable(radio->objectName()));

    board_->bridge().clearCalls();
    child<QPushButton>("ledSwitch")->click();
    QVERIFY(child<QRadioButton>("radioPulsating")->isChecked());
    QVERIFY(window_->isWhiteMode());
    QCOMPARE(effectWord(), 0xB3B3B302u);
    QVERIFY(!child<QPushButton>("applyButton")->isEnabled());
    QCOMPARE(serviceMode(), std::int16_t(0));
}

void WindowTest::defaultAloneChangesNoHardware() {
    storeLedMode(0x0000FF01); // red, Static
    window_ = makeWindow();
    QVERIFY(!window_->isWhiteMode());
    board_->bridge().clearCalls();
    const std::string settingsBefore = [] {
        std::ifstream in(panel::PanelSettings::instance().path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    auto bus = monitor();

    child<QPushButton>("defaultButton")->click();
    QVERIFY(window_->isWhiteMode());
    QVERIFY(child<QRadioButton>("radioPulsating")->isChecked());
    QCOMPARE(child<QSlider>("grayLightSlider")->value(), 100);
    QVERIFY(child<QPushButton>("applyButton")->isEnabled());

    QVERIFY2(itemWrites().empty(), qPrintable(describe(itemWrites())));
    std::ifstream in(panel::PanelSettings::instance().path(), std::ios::binary);
    QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), settingsBefore);
    QTest::qWait(100);
    QVERIFY2(!bus->events().join(' ').contains("Mode"), qPrintable(bus->events().join(", ")));
}

void WindowTest::storedEffectsComeBackIntoTheControls() {
    // The inverse mappings truncate: a slider position does not always survive the trip.
    BoardLedPage page(nullptr, nullptr);
    QCOMPARE(page.lightnessToColorSlider(page.colorSliderToLightness(50)), 49);
    QCOMPARE(page.whiteSliderToLightness(100), 0.7f);
    QCOMPARE(page.colorSliderToLightness(0), 0.07f);
    QCOMPARE(page.lightnessToWhiteSlider(page.whiteSliderToLightness(40)), 40);

    // Grey 179 maps to white slider 100; the colour slider clamps its 225.
    window_ = makeWindow();
    QVERIFY(window_->isWhiteMode());
    QCOMPARE(child<QSlider>("grayLightSlider")->value(), 100);
    QCOMPARE(window_->findChild<LightSlider*>()->value(), 100);
    QVERIFY(child<QRadioButton>("radioPulsating")->isChecked());
    window_.reset();

    // A saturated colour opens in the Colour presentation, and the firmware is given
    // the stored effect again.
    storeLedMode(0x00FF0003); // green, Strobing
    board_->items().set(board::kLightingEffectItem, 0);
    window_ = makeWindow();
    QVERIFY(!window_->isWhiteMode());
    QVERIFY(child<QRadioButton>("radioStrobing")->isChecked());
    QCOMPARE(effectWord(), 0x00FF0003u);

    // Rainbow shown in the Locked presentation, for people to look at.
    child<QRadioButton>("radioRainbow")->click();
    const QImage locked = window_->grab().toImage();
    saveScreenshot(locked, "locked");
    QVERIFY(child<QPushButton>("applyButton")->isEnabled());
}

void WindowTest::aStartThatCannotReadChangesNothing_data() {
    QTest::addColumn<bool>("bridge");
    QTest::addColumn<QByteArray>("settings");
    // At log-on the panel may come up before the bridge: the lighting item cannot be
    // read, and reading it as "off" used to stop the service and overwrite its file.
    QTest::newRow("no bridge") << false << QByteArray();
    // A settings file that is there but not readable may still hold the user's choice.
    QTest::newRow("damaged settings") << true << QByteArray("<?xml version=\"1.0\"?><root><led");
}

void WindowTest::aStartThatCannotReadChangesNothing() {
    QFETCH(bool, bridge);
    QFETCH(QByteArray, settings);
    std::optional<testing_support::TemporaryDirectory> serviceOnly;
    std::optional<testing_support::PrivateBus> busWithoutBridge;
    if (!bridge) {
        // A bus of its own that can start the service but has no bridge at all.
        serviceOnly.emplace();
        const std::filesystem::path services = serviceOnly->path() / "dbus-1" / "services";
        std::filesystem::create_directories(services);
        std::filesystem::copy_file(std::filesystem::path(LUMIVANE_BUS_DATA_DIR) / "dbus-1" /
                                       "services" / "Lumivane.LightControl.service",
                                   services / "Lumivane.LightControl.service");
        busWithoutBridge.emplace(serviceOnly->path());
        QVERIFY(busWithoutBridge->running());
    }
    storeLedMode(0x00FF0001); // green, Static
    if (!settings.isEmpty())
        std::ofstream(panel::PanelSettings::instance().path(), std::ios::binary)
            << settings.toStdString();
    panel::ServiceClient().setServiceMode(1);
    QCOMPARE(serviceMode(), std::int16_t(1));
    const std::string serviceBefore = contentsOf(serviceSettingsFile());
    const std::string panelBefore = contentsOf(panel::PanelSettings::instance().path());
    QVERIFY(!serviceBefore.empty() && !panelBefore.empty());
    board_->bridge().clearCalls();

    window_ = makeWindow();
    // The window shows what it knows: the service's effect, and the switch untouched.
    QVERIFY(child<QRadioButton>("radioMusic")->isChecked());
    QVERIFY(child<QPushButton>("ledSwitch")->isChecked());
    QVERIFY(child<QLabel>("bg_mask")->isHidden());
    QVERIFY(!child<QPushButton>("applyButton")->isEnabled());
    QCOMPARE(serviceMode(), std::int16_t(1));
    QCOMPARE(contentsOf(serviceSettingsFile()), serviceBefore);
    QCOMPARE(contentsOf(panel::PanelSettings::instance().path()), panelBefore);
    QVERIFY2(itemWrites().empty(), qPrintable(describe(itemWrites())));

    // Once the state can be read, it decides: the LEDs stay with the service.
    if (bridge) {
        storeLedMode(0x00FF0001);
        QVERIFY(QTest::qWaitFor([&] { return !itemWrites().empty(); }, 6000));
        QCOMPARE(describe(itemWrites()), describe({{board::kLightingControlItem, 1, 3}}));
        QCOMPARE(serviceMode(), std::int16_t(1));
    }

    window_.reset();
    if (busWithoutBridge)
        panel::ServiceClient().setServiceMode(0);
}

void WindowTest::startingWithTheLightingOffLocksAsSwitchingOffDoes() {
    storeLedMode(0x00FF0001); // green, Static: the Colour presentation when on
    window_ = makeWindow();
    QVERIFY(!window_->isWhiteMode());
    child<QPushButton>("ledSwitch")->click();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    const QImage switchedOff = window_->grab().toImage();
    QMap<QString, QPair<bool, bool>> locked; // visible, enabled
    for (QWidget* widget : window_->findChildren<QWidget*>())
        locked[widget->objectName() + "/" + widget->metaObject()->className()] = {
            widget->isVisible(), widget->isEnabled()};
    window_.reset();

    // Started with the lighting off: the same locks, the same picture where the colour
    // controls are.
    QCOMPARE(board_->items().read(board::kLightingEnableItem), std::optional<std::uint32_t>(0));
    window_ = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(!child<QPushButton>("ledSwitch")->isChecked());
    auto* slider = window_->findChild<LightSlider*>();
    auto* wheel = window_->findChild<CircleSlider*>();
    QVERIFY(!slider->isEnabled());
    QVERIFY(!wheel->isEnabled());
    for (QWidget* widget : window_->findChildren<QWidget*>()) {
        const QString key = widget->objectName() + "/" + widget->metaObject()->className();
        QVERIFY2(locked.contains(key), qPrintable(key));
        QVERIFY2(locked[key] == qMakePair(widget->isVisible(), widget->isEnabled()),
                 qPrintable(key));
    }
    const QImage startedOff = window_->grab().toImage();
    saveScreenshot(startedOff, "started-off");
    for (const QRect& area : {slider->geometry(), wheel->geometry()})
        for (int y = area.top(); y <= area.bottom(); y += 2)
            for (int x = area.left(); x <= area.right(); x += 2)
                QVERIFY2(startedOff.pixel(x, y) == switchedOff.pixel(x, y),
                         qPrintable(QString("at %1, %2").arg(x).arg(y)));

    // Back on, the stored colour's presentation returns.
    child<QPushButton>("ledSwitch")->click();
    QVERIFY(!window_->isWhiteMode());
    QVERIFY(slider->isVisible() && slider->isEnabled() && wheel->isEnabled());
}

void WindowTest::aSecondPanelLeavesTheFirstAlone() {
    QProcess first;
    first.start(LUMIVANE_VIRUV, QStringList());
    QVERIFY(first.waitForStarted());
    const QString lock = QDir(QString::fromStdString((directory_->path() / "runtime").string()))
                             .filePath("9B68EE5F-F7F6-4F8E-A4B6-B95BCDDE7973");
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(lock); }, 10000));

    QProcess second;
    second.start(LUMIVANE_VIRUV, QStringList());
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
