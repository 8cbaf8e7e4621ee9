#pragma once

// Whether the window's effect labels can be read whole where they stand: each text, in
// its radio's own font, fits beside the indicator, and the longest one and the
// temperature badge end left of the divider that the background draws between the
// effects and the colour column. Shared by the Linux and the Windows window tests, so
// the same check holds for the fonts of both.

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <optional>

namespace text_fit {

// The divider's column in the background picture: along the row, the one pixel that is
// clearly lighter than both its neighbours, looked for where the effects column ends.
inline std::optional<int> dividerColumn(const QImage& background, int row) {
    for (int x = 500; x < 545; ++x) {
        const int here = QColor(background.pixel(x, row)).lightness();
        if (here > QColor(background.pixel(x - 1, row)).lightness() + 8 &&
            here > QColor(background.pixel(x + 1, row)).lightness() + 8)
            return x;
    }
    return std::nullopt;
}

// The rightmost column of a picture that shows anything, or -1.
inline int lastOpaqueColumn(const QImage& image) {
    for (int x = image.width() - 1; x >= 0; --x)
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(x, y)) > 0)
                return x;
    return -1;
}

// What is wrong, one line each; empty when every label fits.
inline QStringList problems(QWidget* window, const QImage& background, const QImage& badge) {
    QStringList out;
    int longestEnd = -1;
    QString longest;
    for (const char* name : {"radioStatic", "radioPulsating", "radioStrobing", "radioRainbow",
                             "radioMusic", "radioThermal"}) {
        auto* radio = window->findChild<QRadioButton*>(name);
        if (!radio) {
            out << QString("no %1").arg(name);
            continue;
        }
        QStyleOptionButton option;
        option.initFrom(radio);
        option.text = radio->text();
        const QRect contents =
            radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
        const int indicator =
            radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &option, radio);
        const int text = radio->fontMetrics().horizontalAdvance(radio->text());
        if (contents.left() < indicator || text > contents.width() ||
            contents.left() + text > radio->width())
            out << QString("%1: \"%2\" takes %3 + %4 of %5 pixels")
                       .arg(name, radio->text())
                       .arg(contents.left())
                       .arg(text)
                       .arg(radio->width());
        const int end = radio->mapTo(window, QPoint(contents.left() + text, 0)).x();
        if (end > longestEnd) {
            longestEnd = end;
            longest = radio->text();
        }
    }

    auto* thermal = window->findChild<QRadioButton*>("radioThermal");
    auto* badgeLabel = window->findChild<QLabel*>("thermalCelsius");
    if (!thermal || !badgeLabel)
        return out << "no temperature row";
    const std::optional<int> divider =
        dividerColumn(background, thermal->mapTo(window, thermal->rect().center()).y());
    if (!divider)
        return out << "no divider in the background";
    if (longestEnd >= *divider)
        out << QString("\"%1\" ends at %2, the divider is at %3")
                   .arg(longest)
                   .arg(longestEnd)
                   .arg(*divider);
    const int badgeEnd = badgeLabel->mapTo(window, QPoint(lastOpaqueColumn(badge), 0)).x();
    if (badgeEnd >= *divider)
        out << QString("the badge ends at %1, the divider is at %2").arg(badgeEnd).arg(*divider);
    return out;
}

} // namespace text_fit
