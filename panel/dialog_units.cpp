#include "dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

#include "artwork.h"

QFont DialogFont(const QStringList& families, int pointSize) {
    QFont font;
    QStringList all = families;
    // The captions' own font (where the program installed it) draws the Korean of the
    // program's own texts as Noto Sans CJK KR does, without loading all of that.
    all << QStringLiteral("DejaVu Sans") << QString::fromLatin1(kCaptionFontFamily) << QStringLiteral("Noto Sans CJK KR")
        << QStringLiteral("Malgun Gothic");
    font.setFamilies(all);
    font.setPointSize(pointSize);
    return font;
}

QFont TemplateFont() {
    return DialogFont({QStringLiteral("Gulim"), QStringLiteral("굴림")}, 9);
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Half the width of 52 letters over 26, rounded up: the dialog manager's own average.
    // (A CJK face reports a full-width average character, which is not what dialog units mean.)
    const int baseX = (letters / 26 + 1) / 2;
    const int baseY = metrics.height();
    return DialogUnits(baseX > 0 ? baseX : 1, baseY > 0 ? baseY : 1);
}

namespace {
int MulDivRound(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}
}  // namespace

int DialogUnits::X(int du) const { return MulDivRound(du, baseX_, 4); }
int DialogUnits::Y(int du) const { return MulDivRound(du, baseY_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    const int left = X(x);
    const int top = Y(y);
    return {left, top, X(x + width) - left, Y(y + height) - top};
}

void MapTemplateGeometry(QWidget* form, const DialogUnits& units) {
    const QSize formSize = form->size();
    form->resize(units.Size(formSize.width(), formSize.height()));
    for (QObject* object : form->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow()) {
            continue;
        }
        child->setGeometry(units.Rect(child->geometry()));
    }
}
