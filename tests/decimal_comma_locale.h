#pragma once
// Puts the C library into a locale whose decimal separator is a comma, as Qt does at start-up
// on a German desktop, and restores the previous locale afterwards. The locale is compiled
// into a temporary folder with localedef, so no system locale needs to be installed; without
// localedef, Active() is false and the test should skip.

#include <QTemporaryDir>

#include <clocale>
#include <cstdlib>
#include <string>

class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        if (const char* current = std::setlocale(LC_ALL, nullptr)) {
            previous_ = current;
        }
        if (!dir_.isValid()) {
            return;
        }
        const std::string path = dir_.path().toStdString();
        const std::string command = "localedef -c -i de_DE -f UTF-8 '" + path + "/de_DE.UTF-8' >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1) {
            return;
        }
        if (const char* old = std::getenv("LOCPATH")) {
            oldLocPath_ = old;
            hadLocPath_ = true;
        }
        setenv("LOCPATH", path.c_str(), 1);
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr &&
                  std::localeconv()->decimal_point[0] == ',';
    }
    ~DecimalCommaLocale() {
        std::setlocale(LC_ALL, previous_.c_str());
        if (hadLocPath_) {
            setenv("LOCPATH", oldLocPath_.c_str(), 1);
        } else {
            unsetenv("LOCPATH");
        }
    }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool Active() const { return active_; }

private:
    QTemporaryDir dir_;
    std::string previous_ = "C";
    std::string oldLocPath_;
    bool hadLocPath_ = false;
    bool active_ = false;
};
