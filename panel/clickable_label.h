#pragma once

#include <QLabel>

// A label that reports every mouse press, whatever the button: the wheel's cover uses it
// to let a click on the covered wheel bring the colour controls back.
class ClickableLabel : public QLabel {
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
