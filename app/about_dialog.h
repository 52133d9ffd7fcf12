#pragma once
// CAboutDlg: template 100, "Lumitrax 정보". The same class is the start-up splash (shown
// modeless by the main window for three seconds) and the About box (run modally).

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* Picture() const { return m_staticPicture; }
    QPushButton* OkButton() const { return m_btnOk; }

private:
    QLabel* m_staticPicture = nullptr;
    QPushButton* m_btnOk = nullptr;
};
