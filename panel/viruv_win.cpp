// The frameless window on Windows: the system moves it as if its caption were
// dragged, and another program's WM_CLOSE ends the panel.

#include "panel/viruv.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <windows.h>

void viruv::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    ReleaseCapture();
    SendMessageW(reinterpret_cast<HWND>(winId()), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

bool viruv::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_CLOSE) {
        QCoreApplication::exit(0);
        return true;
    }
    return QWidget::nativeEvent(eventType, message, result);
}
