#include "data_exchange.h"

#include "c_format.h"

#include <QLineEdit>
#include <QLocale>

#include <cfloat>
#include <cmath>

namespace {

QLocale CLocale() {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return c;
}

// The field's name for messages: its accessible name, which every bound field carries.
QString FieldName(const QLineEdit* field) {
    const QString name = field->accessibleName();
    return name.isEmpty() ? field->objectName() : name;
}

}  // namespace

QString FormatInt(int value) { return QCFormat("%d", {value}); }
QString FormatUInt(unsigned value) { return QCFormat("%u", {value}); }
QString FormatFloat(float value) { return QCFormat("%g", {value}); }

bool ParseInt(const QString& text, int& value) {
    bool ok = false;
    const int parsed = CLocale().toInt(text.trimmed(), &ok);
    if (ok) {
        value = parsed;
    }
    return ok;
}

bool ParseUInt(const QString& text, unsigned& value) {
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1Char('-'))) {
        return false;
    }
    bool ok = false;
    const unsigned parsed = CLocale().toUInt(trimmed, &ok);
    if (ok) {
        value = parsed;
    }
    return ok;
}

bool ParseFloat(const QString& text, float& value) {
    bool ok = false;
    const double parsed = CLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(parsed) || std::fabs(parsed) > FLT_MAX) {
        return false;
    }
    value = static_cast<float>(parsed);
    return true;
}

void DataExchange::Show(QLineEdit* field, const QString& text) {
    // Rewriting an unchanged text would move the cursor and raise a change for nothing.
    if (field->text() != text) {
        field->setText(text);
    }
}

void DataExchange::Fail(QLineEdit* field, const QString& problem) {
    failedField_ = field;
    failureText_ = QStringLiteral("%1: %2").arg(FieldName(field), problem);
}

void DataExchange::Text(QLineEdit* field, QString& member) {
    if (!Active()) {
        return;
    }
    if (save_) {
        member = field->text();
    } else {
        Show(field, member);
    }
}

void DataExchange::Int(QLineEdit* field, int& member) {
    if (!Active()) {
        return;
    }
    if (!save_) {
        Show(field, FormatInt(member));
    } else if (!ParseInt(field->text(), member)) {
        Fail(field, QStringLiteral("Please enter an integer."));
    }
}

void DataExchange::UInt(QLineEdit* field, unsigned& member) {
    if (!Active()) {
        return;
    }
    if (!save_) {
        Show(field, FormatUInt(member));
    } else if (!ParseUInt(field->text(), member)) {
        Fail(field, QStringLiteral("Please enter a positive integer."));
    }
}

void DataExchange::Float(QLineEdit* field, float& member) {
    if (!Active()) {
        return;
    }
    if (!save_) {
        Show(field, FormatFloat(member));
    } else if (!ParseFloat(field->text(), member)) {
        Fail(field, QStringLiteral("Please enter a number."));
    }
}

static QString RangeProblem(long long minimum, long long maximum) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(minimum).arg(maximum);
}

void DataExchange::Int(QLineEdit* field, int& member, int minimum, int maximum) {
    if (!Active()) {
        return;
    }
    if (!save_) {
        Show(field, FormatInt(member));
        return;
    }
    int value = member;
    if (!ParseInt(field->text(), value)) {
        Fail(field, QStringLiteral("Please enter an integer."));
    } else if (value < minimum || value > maximum) {
        Fail(field, RangeProblem(minimum, maximum));
    } else {
        member = value;
    }
}

void DataExchange::UInt(QLineEdit* field, unsigned& member, unsigned minimum, unsigned maximum) {
    if (!Active()) {
        return;
    }
    if (!save_) {
        Show(field, FormatUInt(member));
        return;
    }
    unsigned value = member;
    if (!ParseUInt(field->text(), value)) {
        Fail(field, QStringLiteral("Please enter a positive integer."));
    } else if (value < minimum || value > maximum) {
        Fail(field, RangeProblem(minimum, maximum));
    } else {
        member = value;
    }
}
