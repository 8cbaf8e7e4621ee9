// Draws every picture of the panel into a folder and writes the resource collection
// that bundles them: make_images <folder> writes <folder>/Resources/... and
// <folder>/viruv.qrc.

#include "panel/images/artwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    QString collection = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/viruv\">\n";
    for (const Artwork& artwork : panelArtwork()) {
        const QString path = QStringLiteral("Resources/") + artwork.path;
        const QString file = out.filePath(path);
        if (!QDir().mkpath(QFileInfo(file).path()) || !drawArtwork(artwork).save(file, "PNG")) {
            std::fprintf(stderr, "make_images: cannot write %s\n", qPrintable(file));
            return 1;
        }
        collection += "    <file>" + path + "</file>\n";
    }
    collection += "</qresource>\n</RCC>\n";

    QFile qrc(out.filePath("viruv.qrc"));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        qrc.write(collection.toUtf8()) < 0) {
        std::fprintf(stderr, "make_images: cannot write %s\n", qPrintable(qrc.fileName()));
        return 1;
    }
    return 0;
}
