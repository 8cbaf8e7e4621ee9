#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <span>

// Every picture of the panel, drawn by our own code. The build draws them into the build
// tree and bundles them under ":/viruv/Resources/"; the gallery and the tests walk the
// same table, so a picture added here reaches all three.

struct Artwork {
    // Under "Resources/", such as "color_picker/Hue.png".
    const char* path;
    QSize size;
    void (*draw)(QImage& image);
};

std::span<const Artwork> panelArtwork();

// The picture of artwork: 32-bit ARGB (not premultiplied), artwork.size.
QImage drawArtwork(const Artwork& artwork);
