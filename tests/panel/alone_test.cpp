// The panel on a machine where nothing answers: no lighting service, no ACPI bridge,
// no board. It must come up with its defaults and take every click without waiting.

#include "panel/panel_resources.h"
#include "panel/viruv.h"
#include "private_bus.h"
#include "test_environment.h"
#include "text_fit.h"

#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class AloneTest : public QObject {
    Q_OBJECT

private slots:
    void comesUpAndTakesEveryClickWithNothingToTalkTo();
    void effectLabelsFitWhereTheyStand();
};

void AloneTest::comesUpAndTakesEveryClickWithNothingToTalkTo() {
    using testing_support::ScopedEnvironment;
    testing_support::TemporaryDirectory dir;
    const std::string root = dir.path().string();
    ScopedEnvironment config("XDG_CONFIG_HOME", root + "/config");
    ScopedEnvironment image("VBOARD_IMAGE", root + "/no-board.img");
    ScopedEnvironment firmware("LUMIVANE_FIRMWARE_DIR", root + "/no-firmware");
    ScopedEnvironment hwio("LUMIVANE_HWIO_DIR", root);
    testing_support::PrivateBus bus; // no activation files: neither service nor bridge
    QVERIFY(bus.running());

    initPanelResources();
    viruv window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* apply = window.findChild<QPushButton*>("applyButton");
    auto* statics = window.findChild<QRadioButton*>("radioStatic");
    auto* lighting = window.findChild<QPushButton*>("ledSwitch");
    QVERIFY(apply && statics && lighting);

    // Nothing says whether the lighting is on: the switch stays as the form has it,
    // and the stored effect is shown without being programmed anywhere.
    QVERIFY(lighting->isCheckable() && lighting->isChecked());
    QVERIFY(window.findChild<QRadioButton*>("radioPulsating")->isChecked());
    // Every control still answers: nothing waits on a service or a bridge that is not
    // there (a hang would end the test by its time limit).
    auto* defaults = window.findChild<QPushButton*>("defaultButton");
    QVERIFY(defaults);
    for (QAbstractButton* button :
         std::initializer_list<QAbstractButton*>{lighting, statics, apply, defaults, lighting})
        QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(window.isVisible());
}

// Under the test's 96 dpi (QT_FONT_DPI), as the form looks on Windows at 96 dpi.
void AloneTest::effectLabelsFitWhereTheyStand() {
    using testing_support::ScopedEnvironment;
    testing_support::TemporaryDirectory dir;
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.path().string() + "/config");
    testing_support::PrivateBus bus;
    initPanelResources();
    viruv window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList problems = text_fit::problems(&window, QImage(":/viruv/Resources/bg.png"),
                                                    QImage(":/viruv/Resources/temperature/C.png"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
}

QTEST_MAIN(AloneTest)
#include "alone_test.moc"
