#include "panel/circle_slider.h"
#include "panel/circle_slider_thumb.h"
#include "panel/clickable_label.h"
#include "panel/panel_resources.h"
#include "panel/tint_image.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <memory>

namespace {

// The wheel as the window sets it up: position 0 at the top, growing clockwise.
std::unique_ptr<CircleSlider> windowWheel(float radius = 64) {
    auto wheel = std::make_unique<CircleSlider>();
    wheel->resize(152, 152);
    wheel->setCentre(QPoint(76, 76));
    wheel->setRadius(radius);
    wheel->setOrigin(1.5707963f);
    wheel->show();
    return wheel;
}

CircleSliderThumb* thumbOf(CircleSlider& wheel) {
    return wheel.findChild<CircleSliderThumb*>();
}

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& at,
               Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : button;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, widget->mapToGlobal(at), changed, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Drags the thumb, pressed at (9, 9), so that its top-left corner would be at corner.
void dragThumbTo(CircleSliderThumb* thumb, const QPoint& corner) {
    sendMouse(thumb, QEvent::MouseMove, corner - thumb->pos() + QPoint(9, 9));
}

QPoint cornerAt(float angle, float radius) {
    return QPoint(int(std::lround(76 + std::cos(angle) * radius)) - 9,
                  int(std::lround(76 - std::sin(angle) * radius)) - 9);
}

} // namespace

class CircleSliderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initPanelResources(); }

    void placesTheThumbOnTheCircle() {
        auto wheel = windowWheel();
        CircleSliderThumb* thumb = thumbOf(*wheel);
        QCOMPARE(thumb->size(), QSize(19, 19));
        QCOMPARE(thumb->pos(), QPoint(67, 3));

        // Every position puts the thumb's centre on the circle.
        for (float position = -3.0f; position < 6.3f; position += 0.7f) {
            wheel->setPosition(position);
            const QPoint centre = thumb->pos() + QPoint(9, 9);
            const double distance = std::hypot(centre.x() - 76, centre.y() - 76);
            QVERIFY2(std::abs(distance - 64) < 1.5, qPrintable(QString::number(position)));
        }
    }

    void positionPropertyEmitsOnlyOnChange() {
        auto wheel = windowWheel();
        QSignalSpy changed(wheel.get(), &CircleSlider::onPositionChanged);
        wheel->setPosition(0.0f);
        QCOMPARE(changed.count(), 0);

        wheel->setPosition(1.25f);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(wheel->position(), 1.25f);
        QCOMPARE(wheel->livePosition(), 1.25f);
        QCOMPARE(thumbOf(*wheel)->hue(), normalisedHue(1.25f));

        // The meta-object's property works the same way.
        QVERIFY(wheel->setProperty("position", 1.25f));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(wheel->property("position").toFloat(), 1.25f);
    }

    void draggingClockwiseRaisesTheHue() {
        auto wheel = windowWheel();
        CircleSliderThumb* thumb = thumbOf(*wheel);
        QSignalSpy changing(wheel.get(), &CircleSlider::onPositionChanging);
        QSignalSpy changed(wheel.get(), &CircleSlider::onPositionChanged);

        sendMouse(thumb, QEvent::MouseButtonPress, QPoint(9, 9));
        float previousHue = 0.0f;
        bool pastBottom = false;
        // From the top round the right, across the bottom and up the left.
        for (int step = 1; step <= 14; ++step) {
            const float angle = 1.5707963f - step * 0.4f;
            dragThumbTo(thumb, cornerAt(angle, 64));
            QCOMPARE(changing.count(), step);
            const float live = changing.last().at(0).toFloat();
            QCOMPARE(wheel->livePosition(), live);
            if (angle > -1.5707963f) {
                QVERIFY2(live > 0 && live < 3.1415927f, qPrintable(QString::number(live)));
            }
            const float hue = normalisedHue(live);
            QVERIFY2(hue > previousHue,
                     qPrintable(QString("%1 after %2").arg(hue).arg(previousHue)));
            previousHue = hue;
            pastBottom = pastBottom || hue * 6.283185f > 3.1415925f;
            QCOMPARE(thumb->hue(), hue);
            QCOMPARE(wheel->position(), 0.0f);
        }
        QVERIFY(pastBottom);
        QCOMPARE(changed.count(), 0);

        const float live = wheel->livePosition();
        sendMouse(thumb, QEvent::MouseButtonRelease, QPoint(9, 9));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(wheel->position(), live);

        // Pressing and letting go without a move commits nothing, and a right-button
        // drag is no drag.
        wheel->setPosition(0.1f);
        changed.clear();
        changing.clear();
        sendMouse(thumb, QEvent::MouseButtonPress, QPoint(4, 5));
        sendMouse(thumb, QEvent::MouseButtonRelease, QPoint(4, 5));
        sendMouse(thumb, QEvent::MouseButtonPress, QPoint(9, 9), Qt::RightButton);
        dragThumbTo(thumb, cornerAt(0.0f, 64));
        sendMouse(thumb, QEvent::MouseButtonRelease, QPoint(9, 9), Qt::RightButton);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(changing.count(), 0);
        QCOMPARE(wheel->position(), 0.1f);
    }

    void thumbWaitsAtTheEdgesWhileTheHueFollows() {
        // A circle larger than the widget: at the top and at the left the thumb would
        // leave it.
        auto wheel = windowWheel(70);
        CircleSliderThumb* thumb = thumbOf(*wheel);
        wheel->setPosition(1.5707963f);
        const QPoint right = thumb->pos();
        QCOMPARE(right, QPoint(137, 67));
        QSignalSpy changing(wheel.get(), &CircleSlider::onPositionChanging);

        sendMouse(thumb, QEvent::MouseButtonPress, QPoint(9, 9));
        dragThumbTo(thumb, QPoint(67, -3)); // straight above the centre
        QCOMPARE(thumb->pos(), right);
        QCOMPARE(changing.count(), 1);
        QVERIFY(std::abs(changing.last().at(0).toFloat()) < 1e-6f);
        QVERIFY(std::abs(wheel->livePosition()) < 1e-6f);

        dragThumbTo(thumb, QPoint(-3, 67)); // straight left of it
        QCOMPARE(thumb->pos(), right);
        QCOMPARE(changing.count(), 2);
        QVERIFY(std::abs(wheel->livePosition() + 1.5707963f) < 1e-5f);
        QVERIFY(std::abs(thumb->hue() - 0.75f) < 1e-5f);

        // Back inside, the thumb follows again.
        dragThumbTo(thumb, cornerAt(-0.5f, 70));
        QVERIFY((thumb->pos() - cornerAt(-0.5f, 70)).manhattanLength() <= 2);
    }

    void coverReportsEveryButton() {
        auto wheel = windowWheel();
        ClickableLabel* cover = wheel->cover();
        QVERIFY(!cover->isVisible());
        wheel->setCoverVisible(true);
        QVERIFY(cover->isVisible());
        QSignalSpy clicked(cover, &ClickableLabel::clicked);
        for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
            QTest::mouseClick(cover, button, Qt::NoModifier, QPoint(76, 76));
        }
        QCOMPARE(clicked.count(), 3);
    }
};

QTEST_MAIN(CircleSliderTest)
#include "circle_slider_test.moc"
