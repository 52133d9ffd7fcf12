#include "accessible_toggles.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QPushButton>

namespace {

class AccessibleToggle final : public QAccessibleWidget {
public:
    explicit AccessibleToggle(QAbstractButton* button)
        : QAccessibleWidget(button, qobject_cast<QCheckBox*>(button) != nullptr ? QAccessible::CheckBox
                                                                                : QAccessible::Button) {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty()) {
            text = Button()->text();
            text.remove(QLatin1Char('&'));
        }
        return text;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = Button()->isCheckable();
        s.checked = Button()->isChecked();
        s.pressed = Button()->isDown();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled()) {
            names << (Button()->isCheckable() ? toggleAction() : pressAction());
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (!widget()->isEnabled()) {
            return;
        }
        if (action == toggleAction() || action == pressAction()) {
            Button()->click();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* ToggleFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QCheckBox") && className != QLatin1String("QPushButton")) {
        return nullptr;
    }
    auto* button = qobject_cast<QAbstractButton*>(object);
    // Plain push buttons keep Qt's interface; a button is made checkable before it is shown.
    if (button == nullptr || !button->isCheckable()) {
        return nullptr;
    }
    return new AccessibleToggle(button);
}

}  // namespace

void InstallAccessibleToggles() {
    static const bool installed = [] {
        QAccessible::installFactory(&ToggleFactory);
        return true;
    }();
    (void)installed;
}
