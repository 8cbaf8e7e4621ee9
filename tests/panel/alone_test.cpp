// The panel on a machine where nothing answers: no lighting service, no ACPI bridge,
// no board. It must come up with its defaults and take every click without waiting.

#include "panel/panel_resources.h"
#include "panel/viruv.h"
#include "private_bus.h"
#include "test_environment.h"

#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class AloneTest : public QObject {
    Q_OBJECT

private slots:
    void comesUpAndTakesEveryClickWithNothingToTalkTo();
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

    QTest::mouseClick(statics, Qt::LeftButton);
    QVERIFY(statics->isChecked());
    QVERIFY(apply->isEnabled());
    QTest::mouseClick(apply, Qt::LeftButton);
    QTest::mouseClick(lighting, Qt::LeftButton);
    QTest::mouseClick(lighting, Qt::LeftButton);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(AloneTest)
#include "alone_test.moc"
