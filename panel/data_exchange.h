#pragma once
// The exchange between the panel's bound edit fields and its members.
//
// One DataExchange object is one pass over the bindings in their fixed order. Showing
// (save = false) writes every member into its field. Reading back (save = true) parses each
// field into its member and stops at the first field that does not parse or validate: that
// member and every member bound after it keep their values, and Failed() names the field and
// the problem. Numbers are read and written in the C locale whatever the user's locale.

#include <QString>

class QLineEdit;

// Text forms of the members: "%d", "%u" and the shortest "%g" form with six digits.
QString FormatInt(int value);
QString FormatUInt(unsigned value);
QString FormatFloat(float value);

// Parsers of the field texts; blanks around the number are allowed, anything else is not.
// On failure the value is left untouched.
bool ParseInt(const QString& text, int& value);
bool ParseUInt(const QString& text, unsigned& value);
// Finite numbers within the float range only.
bool ParseFloat(const QString& text, float& value);

class DataExchange {
public:
    explicit DataExchange(bool saveAndValidate) : save_(saveAndValidate) {}

    bool SaveAndValidate() const { return save_; }
    bool Failed() const { return failedField_ != nullptr; }
    // The field that stopped a read-back, and the message that names it and the problem.
    QLineEdit* FailedField() const { return failedField_; }
    const QString& FailureText() const { return failureText_; }

    void Text(QLineEdit* field, QString& member);
    void Int(QLineEdit* field, int& member);
    void UInt(QLineEdit* field, unsigned& member);
    void Float(QLineEdit* field, float& member);

    // The same with a range check when reading back: a value outside minimum..maximum fails
    // the field, and the member keeps its value (an out-of-range number never enters it).
    void Int(QLineEdit* field, int& member, int minimum, int maximum);
    void UInt(QLineEdit* field, unsigned& member, unsigned minimum, unsigned maximum);

private:
    bool Active() const { return !Failed(); }
    void Fail(QLineEdit* field, const QString& problem);
    static void Show(QLineEdit* field, const QString& text);

    bool save_;
    QLineEdit* failedField_ = nullptr;
    QString failureText_;
};
