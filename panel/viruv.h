#pragma once

#include <QList>
#include <QMainWindow>
#include <memory>

class BoardLedPage;
class CircleSlider;
class LightSlider;
class QRadioButton;
class QTimer;

namespace Ui {
class vodozOzava;
}

// The control panel's window. It arranges the controls and follows the user's choices;
// everything that reads or programs the lighting goes through the page, and nothing
// reaches the hardware until Apply.
class viruv : public QMainWindow {
    Q_OBJECT

public:
    explicit viruv(QWidget* parent = nullptr);
    ~viruv() override;

    // The grey slider is in use: its mask is the one hidden.
    bool isWhiteMode() const;
    // 0 White, 1 Colour, each with its logo tint.
    void setLightMode(int mode);

public slots:
    void OnStart();
    void OnStop();
    void OnLedSwitchChanged(bool checked);
    void OnPrimaryMode(bool checked);
    void onSecondaryMode(bool checked);
    void onApplyButton();
    void onDefaultButton();
    void onMinimize();
    void onClose();
    void onHueChanged();
    void onHueChanging(float hue);
    void colorLightChanged(int value);
    void grayLightChanged(int value);
    void OnColorLightClicked();
    void OnGrayLightClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
#else
    // The window manager's close request, which WM_CLOSE is on Windows.
    void closeEvent(QCloseEvent* event) override;
#endif

private:
    friend class BoardLedPage;

    enum class Presentation { White, Colour, Locked };

    void setEffectControlsEnabled(bool enabled);
    void present(Presentation presentation);
    void tintLogo(const QString& path);
    void giveSliderHue(float hue);
    void retryUnreadState();

    std::unique_ptr<Ui::vodozOzava> ui;
    QList<QRadioButton*> primaryRadios;
    QList<QRadioButton*> shutdownRadios;
    QList<QRadioButton*> softwareRadios;
    CircleSlider* wheel = nullptr;
    // No effect chosen yet: Apply programs none and sends no mode.
    int effectIndex = -1;
    int softwareIndex = -1;
    LightSlider* colorLightSlider = nullptr;
    float hue = 0.0f;
    float lightness = -1.0f;
    std::unique_ptr<BoardLedPage> page;
    int lightMode = -1;
    // Runs while the page could not read the state at start-up and the user has not
    // chosen anything yet.
    QTimer* stateRetry = nullptr;
};
