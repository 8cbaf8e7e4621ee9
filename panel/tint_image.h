#pragma once

#include <QImage>
#include <QString>

class QLabel;

// The panel colours its swatches, its thumb and its logo by re-hueing images: every
// pixel keeps its saturation and alpha and takes the chosen hue, so the artwork decides
// how colourful each part looks.

// An angle in radians (a wheel position, -2π to 2π) as a hue from 0 to 1.
float normalisedHue(float angle);

// source with every pixel set to hue (0 to 1), keeping saturation and alpha. The pixel
// also takes lightness, unless lightness is -1 or the pixel is darker than 0.09: dark
// outlines stay dark whatever lightness is chosen.
QImage tintedImage(const QImage& source, float hue, float lightness);
// The same for the picture at path, read once and kept: the panel's pictures are
// resources, and a drag on the wheel tints them at every move.
QImage tintedPicture(const QString& path, float hue, float lightness);

// The image at path (read once and kept, as tintedPicture) tinted with the hue of the
// angle hue, shown in label.
void tintImage(float hue, float lightness, QLabel* label, const QString& path);
