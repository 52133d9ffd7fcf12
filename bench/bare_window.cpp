// The floor for start-up figures: a Qt Widgets window holding one label, nothing else.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("bare Qt window"));
    label.setWindowTitle(QStringLiteral("bare-qt-floor"));
    label.show();
    return app.exec();
}
