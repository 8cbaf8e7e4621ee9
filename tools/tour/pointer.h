#pragma once

// A left-button press, move or release delivered to a widget as if the pointer were at
// `at` (the widget's own coordinates): the tour drives the panel with it, and so do the
// window's tests.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace tour {

inline void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& at) {
    const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), changed, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace tour
