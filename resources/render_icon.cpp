// Build-time helper: writes the application icon as PNG files for the desktop's icon theme, and
// the pictures that the window programs embed as plain pixels (the About picture and the icon
// sizes a window offers its window system): taking them as they are costs less start-up time
// and memory than painting them, or decoding a PNG, which first looks for image plugins.
//   render_icon OUTPUT_DIR SIZE...   ->  OUTPUT_DIR/<SIZE>x<SIZE>/lumitrax-panel.png,
//                                        OUTPUT_DIR/about.pixels, OUTPUT_DIR/icon-<N>.pixels
// Paints offscreen, so it runs on a build machine without a display.
#include <QDir>
#include <QGuiApplication>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <utility>

#include "artwork.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR SIZE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 16 || size > 512) {
            std::fprintf(stderr, "%s: bad icon size '%s'\n", argv[0], argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString file = out.filePath(folder + QStringLiteral("/lumitrax-panel.png"));
        if (!out.mkpath(folder) || !PaintIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file.toLocal8Bit().constData());
            return 1;
        }
    }
    const std::pair<QString, QImage> embedded[] = {
        {QStringLiteral("about.pixels"), PaintAboutPicture()},
        {QStringLiteral("icon-16.pixels"), PaintIcon(16)},
        {QStringLiteral("icon-32.pixels"), PaintIcon(32)},
        {QStringLiteral("icon-48.pixels"), PaintIcon(48)},
    };
    for (const auto& [name, image] : embedded) {
        QFile file(out.filePath(name));
        const QByteArray pixels = PicturePixels(image);
        if (pixels.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(pixels) != pixels.size() || !file.flush()) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file.fileName().toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
