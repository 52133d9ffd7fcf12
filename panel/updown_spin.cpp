#include "updown_spin.h"

#include <QWheelEvent>

#include <algorithm>

CUpDownSpin::CUpDownSpin(QWidget* parent) : QSpinBox(parent) {
    QSpinBox::setRange(0, kTextMax);
    setFocusPolicy(Qt::StrongFocus);
}

void CUpDownSpin::SetRange(int minimum, int maximum) {
    rangeMin_ = std::min(minimum, maximum);
    rangeMax_ = std::max(minimum, maximum);
}

void CUpDownSpin::SetPos(int position) {
    setValue(std::clamp(position, 0, kTextMax));
}

void CUpDownSpin::stepBy(int steps) {
    const long long target = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp<long long>(target, rangeMin_, rangeMax_)));
    selectAll();
}

QAbstractSpinBox::StepEnabled CUpDownSpin::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (value() < rangeMax_) {
        enabled |= StepUpEnabled;
    }
    if (value() > rangeMin_) {
        enabled |= StepDownEnabled;
    }
    return enabled;
}

void CUpDownSpin::wheelEvent(QWheelEvent* event) {
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QSpinBox::wheelEvent(event);
}
