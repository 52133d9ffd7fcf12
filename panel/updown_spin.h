#pragma once
// CUpDownSpin: an up-down control with a numeric buddy edit.
//
// Unlike a plain QSpinBox, its range bounds only the arrows (and the wheel and the arrow
// keys): the text holds any non-negative number, whether the operator types it or the program
// sets it, so a controller value beyond the range (a trigger delay of 65535 shows 65536, a
// bright memory of 12 shows 12) is shown as it is and reaches the checks that look at it.
// valueChanged is raised on every change of the number, also for SetPos from the program; a
// position equal to the one shown changes nothing and raises nothing.
//
// The wheel turns it only while it has the keyboard focus: the memory-number spins load a
// memory on every change, and a wheel passing over them must not do that.

#include <QSpinBox>

class CUpDownSpin : public QSpinBox {
    Q_OBJECT

public:
    explicit CUpDownSpin(QWidget* parent = nullptr);

    // Bounds of the arrows; the shown number is left as it is.
    void SetRange(int minimum, int maximum);
    int RangeMin() const { return rangeMin_; }
    int RangeMax() const { return rangeMax_; }

    // Shows the number (any value 0..kTextMax) and raises valueChanged when it differs.
    void SetPos(int position);
    // The number shown.
    int GetPos() const { return value(); }

    static constexpr int kTextMax = 999999999;

protected:
    void stepBy(int steps) override;
    StepEnabled stepEnabled() const override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int rangeMin_ = 0;
    int rangeMax_ = 100;
};
