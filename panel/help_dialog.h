#pragma once
// CHelpDlg: the "Help" window of the trigger group, template 135: the trigger timing diagram
// (bitmap 137) in a window without caption, closed with Enter or Escape.

#include <QDialog>

class QLabel;

class CHelpDlg : public QDialog {
    Q_OBJECT

public:
    explicit CHelpDlg(QWidget* parent);

    QLabel* Picture() const { return m_staticPicture; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* m_staticPicture = nullptr;
};
