// Build-time helper: writes the application icon as PNG files for the desktop's icon theme, and
// the About picture that the programs embed (decoding it at start-up costs less time and memory
// than painting it, which loads a bold font of its own).
//   render_icon OUTPUT_DIR SIZE...   ->  OUTPUT_DIR/<SIZE>x<SIZE>/lumitrax-panel.png, OUTPUT_DIR/about.png
// Paints offscreen, so it runs on a build machine without a display.
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

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
    const QString about = out.filePath(QStringLiteral("about.png"));
    if (!PaintAboutPicture().save(about, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], about.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
