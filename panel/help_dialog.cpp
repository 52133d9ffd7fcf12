#include "help_dialog.h"

#include <QKeyEvent>
#include <QLabel>

#include "artwork.h"
#include "dialog_units.h"
#include "ui_help.h"

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFont(DialogFont({QStringLiteral("MS Shell Dlg"), QStringLiteral("MS Shell Dlg 2"),
                        QStringLiteral("Microsoft Sans Serif")}, 8));
    Ui::HelpTemplate ui;
    ui.setupUi(this);
    MapTemplateGeometry(this, DialogUnits::ForFont(font()));
    setFixedSize(size());

    m_staticPicture = ui.labelPicture;
    m_staticPicture->setAlignment(Qt::AlignCenter);
    const QPixmap picture = LoadBitmapResource(IDB_TRIGGER_HELP);
    // Shown at its own size; a smaller window (another font) gets it scaled down to fit.
    if (picture.width() > m_staticPicture->width() || picture.height() > m_staticPicture->height()) {
        m_staticPicture->setPixmap(
            picture.scaled(m_staticPicture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
        m_staticPicture->setPixmap(picture);
    }
    m_staticPicture->setAccessibleName(QStringLiteral("Trigger timing diagram"));
    setAccessibleName(QStringLiteral("Help"));
}

void CHelpDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CHelpDlg::mousePressEvent(QMouseEvent* event) {
    // Without a caption there is no close box: a click closes the picture as well.
    static_cast<void>(event);
    accept();
}
