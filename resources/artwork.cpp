#include "artwork.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QRadialGradient>
#include <QResource>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>

namespace {

QFont PictureFont(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"), QStringLiteral("Noto Sans CJK KR")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QImage BlankImage(int width, int height, const QColor& fill) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

// One glowing LED: a soft halo, then the lens.
void PaintLed(QPainter& p, QPointF centre, qreal radius, const QColor& colour) {
    QRadialGradient halo(centre, radius * 2.2);
    QColor glow = colour;
    glow.setAlpha(150);
    halo.setColorAt(0.0, glow);
    glow.setAlpha(0);
    halo.setColorAt(1.0, glow);
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(centre, radius * 2.2, radius * 2.2);

    QRadialGradient lens(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.2);
    lens.setColorAt(0.0, Qt::white);
    lens.setColorAt(0.35, colour.lighter(130));
    lens.setColorAt(1.0, colour.darker(160));
    p.setBrush(lens);
    p.drawEllipse(centre, radius, radius);
}

// ---- timing diagram helpers ----

// A two-level waveform from x0 to x1 that flips at every x of edges.
void PaintWave(QPainter& p, int x0, int x1, int yLow, int yHigh, bool startHigh,
               std::initializer_list<int> edges) {
    QPainterPath path;
    bool high = startHigh;
    path.moveTo(x0, high ? yHigh : yLow);
    for (int e : edges) {
        path.lineTo(e, high ? yHigh : yLow);
        high = !high;
        path.lineTo(e, high ? yHigh : yLow);
    }
    path.lineTo(x1, high ? yHigh : yLow);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void PaintArrowHead(QPainter& p, QPointF tip, qreal direction) {
    const qreal len = 7.0;
    const qreal spread = 0.45;
    QPolygonF head;
    head << tip << tip - QPointF(len * std::cos(direction - spread), len * std::sin(direction - spread))
         << tip - QPointF(len * std::cos(direction + spread), len * std::sin(direction + spread));
    p.setBrush(p.pen().color());
    p.drawPolygon(head);
}

// A horizontal dimension between xa and xb at height y with its text above the line (or below).
void PaintSpan(QPainter& p, int xa, int xb, int y, const QString& text, const QColor& colour, bool below = false) {
    p.save();
    p.setPen(QPen(colour, 1.2));
    p.drawLine(xa, y, xb, y);
    PaintArrowHead(p, QPointF(xb, y), 0.0);
    PaintArrowHead(p, QPointF(xa, y), std::numbers::pi);
    p.setPen(colour);
    if (below) {
        p.drawText(QRect(xa - 40, y + 3, xb - xa + 80, 18), Qt::AlignHCenter | Qt::AlignTop, text);
    } else {
        p.drawText(QRect(xa - 40, y - 20, xb - xa + 80, 18), Qt::AlignHCenter | Qt::AlignBottom, text);
    }
    p.restore();
}

void PaintGuide(QPainter& p, int x, int y0, int y1) {
    p.save();
    p.setPen(QPen(QColor(120, 120, 120), 1.0, Qt::DashLine));
    p.drawLine(x, y0, x, y1);
    p.restore();
}

void PaintRowLabel(QPainter& p, int y, const QString& text) {
    p.drawText(QRect(12, y - 10, 80, 20), Qt::AlignLeft | Qt::AlignVCenter, text);
}

// The strobe output starts one delay after the chosen edge of the trigger.
void PaintEdgeCase(QPainter& p, int top, bool rising, const QColor& accent) {
    const int left = 96;
    const int right = 700;
    const int edge = 170;
    // Drawn to the rule in the note: OFF time more than ten times the ON time.
    const int delay = 90;
    const int on = 22;
    const int off = 260;
    const int trigHigh = top + 28;
    const int trigLow = top + 58;
    const int strobeHigh = top + 92;
    const int strobeLow = top + 122;

    p.setPen(Qt::black);
    p.setFont(PictureFont(15, true));
    p.drawText(QRect(12, top - 4, 400, 20), Qt::AlignLeft | Qt::AlignVCenter,
               rising ? QStringLiteral("Positive edge (rising)") : QStringLiteral("Negative edge (falling)"));

    p.setFont(PictureFont(13));
    PaintRowLabel(p, (trigHigh + trigLow) / 2, QStringLiteral("Trigger"));
    PaintRowLabel(p, (strobeHigh + strobeLow) / 2, QStringLiteral("Strobe"));

    p.setPen(QPen(Qt::black, 2.0));
    if (rising) {
        PaintWave(p, left, right, trigLow, trigHigh, false, {edge, edge + 360});
    } else {
        PaintWave(p, left, right, trigLow, trigHigh, true, {edge, edge + 360});
    }
    p.setPen(QPen(accent, 2.0));
    const int strobeOn = edge + delay;
    PaintWave(p, left, right, strobeLow, strobeHigh, false, {strobeOn, strobeOn + on});

    PaintGuide(p, edge, trigHigh - 6, strobeLow + 22);
    PaintGuide(p, strobeOn, strobeHigh - 6, strobeLow + 22);
    PaintGuide(p, strobeOn + on, strobeHigh - 6, strobeLow + 22);
    PaintGuide(p, strobeOn + on + off, strobeHigh - 6, strobeLow + 22);

    p.setFont(PictureFont(12));
    const QColor dim(40, 40, 40);
    PaintSpan(p, edge, strobeOn, strobeLow + 16, QStringLiteral("Delay"), dim);
    PaintSpan(p, strobeOn, strobeOn + on, strobeLow + 16, QString(), dim);
    // The pulse is too narrow for its name below it: the name stands above the pulse.
    p.setPen(dim);
    p.drawText(QRect(strobeOn - 40, strobeHigh - 22, on + 80, 18), Qt::AlignHCenter | Qt::AlignBottom,
               QStringLiteral("ON time"));
    PaintSpan(p, strobeOn + on, strobeOn + on + off, strobeLow + 16, QStringLiteral("OFF time"), dim);
}

}  // namespace

QImage PaintIcon(int size) {
    QImage image = BlankImage(size, size, Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    QLinearGradient back(0, 0, 0, 64);
    back.setColorAt(0.0, QColor(36, 52, 92));
    back.setColorAt(1.0, QColor(14, 20, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // Rays of light around one bright LED.
    p.setPen(QPen(QColor(255, 214, 90), 3.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * std::numbers::pi / 4.0;
        p.drawLine(QPointF(32 + 15 * std::cos(a), 30 + 15 * std::sin(a)),
                   QPointF(32 + 23 * std::cos(a), 30 + 23 * std::sin(a)));
    }
    PaintLed(p, QPointF(32, 30), 9.5, QColor(255, 190, 40));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 200, 220));
    p.drawRoundedRect(QRectF(24, 50, 16, 6), 2, 2);
    return image;
}

QImage PaintAboutPicture() {
    QImage image = BlankImage(kAboutBitmapWidth, kAboutBitmapHeight, Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient back(0, 0, 0, kAboutBitmapHeight);
    back.setColorAt(0.0, QColor(30, 44, 82));
    back.setColorAt(1.0, QColor(8, 12, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(0.5, 0.5, kAboutBitmapWidth - 1.0, kAboutBitmapHeight - 1.0), 8, 8);

    // Sixteen channels, two rows of eight, lit in a warm-to-cool sweep.
    const std::array<QColor, 8> colours = {QColor(255, 80, 60),  QColor(255, 150, 40), QColor(255, 220, 60),
                                           QColor(150, 230, 70), QColor(60, 220, 140), QColor(50, 190, 240),
                                           QColor(90, 120, 255), QColor(190, 100, 255)};
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 8; ++i) {
            const QColor c = row == 0 ? colours[i] : colours[7 - i];
            PaintLed(p, QPointF(13 + i * 12, 15 + row * 15), 3.6, c);
        }
    }

    p.setPen(QColor(255, 255, 255, 60));
    p.drawLine(QPointF(10, 47), QPointF(kAboutBitmapWidth - 10, 47));

    p.setPen(QColor(240, 244, 255));
    p.setFont(PictureFont(15, true));
    p.drawText(QRect(0, 49, kAboutBitmapWidth, 18), Qt::AlignCenter, QStringLiteral("LUMITRAX"));
    p.setPen(QColor(170, 185, 220));
    p.setFont(PictureFont(9));
    p.drawText(QRect(0, 65, kAboutBitmapWidth, 12), Qt::AlignCenter, QStringLiteral("LED lighting control"));
    return image;
}

QImage PaintTriggerHelpPicture() {
    QImage image = BlankImage(kHelpBitmapWidth, kHelpBitmapHeight, Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.setPen(Qt::black);
    p.setFont(PictureFont(18, true));
    p.drawText(QRect(0, 8, kHelpBitmapWidth, 26), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Trigger option timing"));

    const QColor accent(20, 110, 200);
    PaintEdgeCase(p, 48, true, accent);
    PaintEdgeCase(p, 208, false, accent);

    // The rule that the panel's OFF time follows.
    p.setPen(QColor(190, 40, 30));
    p.setFont(PictureFont(13, true));
    p.drawText(QRect(12, 366, kHelpBitmapWidth - 24, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Note: OFF time must be more than 10 x ON time."));

    // One trigger, then a train of five strobe pulses of period T.
    const int top = 396;
    const int trigHigh = top + 30;
    const int trigLow = top + 56;
    const int strobeHigh = top + 86;
    const int strobeLow = top + 112;
    const int edge = 130;
    const int delay = 22;
    const int on = 8;
    const int off = 90;
    const int period = delay + on + off;

    p.setPen(Qt::black);
    p.setFont(PictureFont(15, true));
    p.drawText(QRect(12, top - 4, 400, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Repeat (one trigger, five strobes)"));
    p.setFont(PictureFont(13));
    PaintRowLabel(p, (trigHigh + trigLow) / 2, QStringLiteral("Trigger"));
    PaintRowLabel(p, (strobeHigh + strobeLow) / 2, QStringLiteral("Strobe"));

    p.setPen(QPen(Qt::black, 2.0));
    PaintWave(p, 96, 700, trigLow, trigHigh, false, {edge, edge + 24});

    QPainterPath train;
    train.moveTo(96, strobeLow);
    for (int k = 0; k < 5; ++k) {
        const int start = edge + k * period + delay;
        train.lineTo(start, strobeLow);
        train.lineTo(start, strobeHigh);
        train.lineTo(start + on, strobeHigh);
        train.lineTo(start + on, strobeLow);
    }
    train.lineTo(700, strobeLow);
    p.setPen(QPen(accent, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(train);

    PaintGuide(p, edge, trigHigh - 6, strobeLow + 16);
    PaintGuide(p, edge + period, strobeHigh - 6, strobeLow + 16);
    p.setFont(PictureFont(12));
    const QColor dim(40, 40, 40);
    PaintSpan(p, edge, edge + period, strobeLow + 12, QStringLiteral("T = Delay + ON + OFF"), dim, true);

    // The bracket over the five pulses.
    const int x0 = edge + delay;
    const int x1 = edge + 4 * period + delay + on;
    p.setPen(QPen(dim, 1.2));
    p.drawLine(x0, strobeHigh - 12, x0, strobeHigh - 6);
    p.drawLine(x1, strobeHigh - 12, x1, strobeHigh - 6);
    p.drawLine(x0, strobeHigh - 12, x1, strobeHigh - 12);
    p.drawText(QRect(x0, strobeHigh - 32, x1 - x0, 18), Qt::AlignHCenter | Qt::AlignBottom,
               QStringLiteral("Repeat count 5"));
    return image;
}

namespace {

constexpr char kPixelsMagic[4] = {'L', 'X', 'P', 'X'};
constexpr int kPixelsHeader = 16;
constexpr int kLargestPicture = 4096;

// A picture rendered at build time into the window programs' resources; null where it is not
// built in.
QImage BuiltPicture(const QString& path) {
    const QResource resource(path);
    return resource.isValid() ? PictureFromPixels(resource.uncompressedData()) : QImage();
}

}  // namespace

QByteArray PicturePixels(const QImage& image) {
    if (image.isNull()) {
        return {};
    }
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const quint32 header[] = {0, static_cast<quint32>(pixels.width()), static_cast<quint32>(pixels.height()),
                              static_cast<quint32>(pixels.format())};
    QByteArray bytes(reinterpret_cast<const char*>(header), sizeof header);
    std::memcpy(bytes.data(), kPixelsMagic, sizeof kPixelsMagic);
    const qsizetype row = static_cast<qsizetype>(pixels.width()) * 4;
    for (int y = 0; y < pixels.height(); ++y) {
        bytes.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), row);
    }
    return bytes;
}

QImage PictureFromPixels(const QByteArray& bytes) {
    quint32 header[4] = {};
    if (bytes.size() < kPixelsHeader || std::memcmp(bytes.constData(), kPixelsMagic, sizeof kPixelsMagic) != 0) {
        return {};
    }
    std::memcpy(header, bytes.constData(), sizeof header);
    const quint32 width = header[1];
    const quint32 height = header[2];
    if (width == 0 || height == 0 || width > kLargestPicture || height > kLargestPicture ||
        header[3] != static_cast<quint32>(QImage::Format_ARGB32_Premultiplied) ||
        bytes.size() != kPixelsHeader + static_cast<qsizetype>(width) * height * 4) {
        return {};
    }
    const QImage view(reinterpret_cast<const uchar*>(bytes.constData()) + kPixelsHeader, static_cast<int>(width),
                      static_cast<int>(height), static_cast<qsizetype>(width) * 4, QImage::Format_ARGB32_Premultiplied);
    return view.copy();
}

QImage BuiltAboutPicture() { return BuiltPicture(QStringLiteral(":/lumitrax/about.pixels")); }

QImage BuiltIcon(int side) { return BuiltPicture(QStringLiteral(":/lumitrax/icon-%1.pixels").arg(side)); }

bool InstallCaptionFont() {
    QFile file(QStringLiteral(":/lumitrax/captions.otf"));
    return file.open(QIODevice::ReadOnly) && QFontDatabase::addApplicationFontFromData(file.readAll()) >= 0;
}

QPixmap LoadBitmapResource(int id) {
    switch (id) {
    case IDB_ABOUT: {
        // Made once: the panel and the splash both show it at start-up. The window programs
        // carry it rendered at build time; others paint it.
        const QString key = QStringLiteral("lumitrax-about");
        QPixmap picture;
        if (!QPixmapCache::find(key, &picture)) {
            picture = QPixmap::fromImage(BuiltAboutPicture());
            if (picture.isNull()) {
                picture = QPixmap::fromImage(PaintAboutPicture());
            }
            QPixmapCache::insert(key, picture);
        }
        return picture;
    }
    case IDB_TRIGGER_HELP:
        return QPixmap::fromImage(PaintTriggerHelpPicture());
    default:
        return {};
    }
}

namespace {

// The icon in the sizes asked for, each made once, when it is first asked for: read from the
// sizes built in, drawn by PaintIcon in any other.
class PaintedIconEngine final : public QIconEngine {
public:
    PaintedIconEngine() = default;

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        // One drawing per size for every copy of the icon (the main window and the splash each
        // hold one).
        const QString key = QStringLiteral("lumitrax-icon-%1").arg(side);
        QPixmap cached;
        if (!QPixmapCache::find(key, &cached)) {
            // The window's own sizes are built in: painting them took a share of start-up.
            QImage image = BuiltIcon(side);
            if (image.isNull()) {
                image = PaintIcon(side);
            }
            cached = QPixmap::fromImage(std::move(image));
            QPixmapCache::insert(key, cached);
        }
        return cached;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::max(1, std::min(size.width(), size.height()));
        return {side, side};
    }

    // The sizes the window system is offered for the window's icon.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {QSize(16, 16), QSize(32, 32), QSize(48, 48)}; }

    QIconEngine* clone() const override { return new PaintedIconEngine(*this); }
    QString key() const override { return QStringLiteral("PaintedIconEngine"); }
};

}  // namespace

QIcon LoadIconResource(int id) {
    if (id != IDI_MAINFRAME) {
        return {};
    }
    return QIcon(new PaintedIconEngine);
}
