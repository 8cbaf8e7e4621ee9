// The frameless window on Linux: the window manager moves it and asks it to close.

#include "panel/viruv.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QWindow>

void viruv::mousePressEvent(QMouseEvent* event) {
    // The whole background is the title bar of a window without a frame.
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
}

void viruv::closeEvent(QCloseEvent* event) {
    // As WM_CLOSE on Windows: the event loop ends with 0, the window is not closed
    // on its own.
    QCoreApplication::exit(0);
    event->ignore();
}
