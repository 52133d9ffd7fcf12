#pragma once
// Dialog units: the layouts (resources/*.ui) give every position and size in dialog units, as
// the window templates do. One horizontal unit is a quarter of the dialog font's average
// character width, one vertical unit an eighth of its height; the conversion rounds to the
// nearest pixel like the platform's own dialog manager.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

class QWidget;

// The template font: the first of the families that exists ("굴림" where it is installed),
// falling back to a sans-serif face and a Korean face for Hangul.
QFont DialogFont(const QStringList& families, int pointSize);
// "굴림" 9 point: the font of the main window, the panel and the About box.
QFont TemplateFont();

class DialogUnits {
public:
    // Base units of a font: the average width of the 52 Latin letters (rounded as the
    // platform's dialog manager does) and the font height in pixels.
    static DialogUnits ForFont(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    int X(int du) const;
    int Y(int du) const;
    // Edges are converted each on its own, so neighbouring rectangles stay neighbours.
    QRect Rect(int x, int y, int width, int height) const;
    QRect Rect(const QRect& du) const { return Rect(du.x(), du.y(), du.width(), du.height()); }
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

private:
    int baseX_;
    int baseY_;
};

// Converts a form built from a layout file: the form's size and the geometry of each of its
// direct children, from dialog units to pixels.
void MapTemplateGeometry(QWidget* form, const DialogUnits& units);
