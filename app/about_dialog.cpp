#include "about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "artwork.h"
#include "dialog_units.h"
#include "ui_about.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setFont(TemplateFont());
    Ui::AboutTemplate ui;
    ui.setupUi(this);
    MapTemplateGeometry(this, DialogUnits::ForFont(font()));
    setFixedSize(size());

    m_staticPicture = ui.labelPicture;
    m_staticPicture->setAlignment(Qt::AlignCenter);
    m_staticPicture->setPixmap(LoadBitmapResource(IDB_ABOUT));
    m_staticPicture->setAccessibleName(QStringLiteral("Lumitrax picture"));
    ui.labelVersion->setAccessibleName(ui.labelVersion->text());
    ui.labelMaker->setAccessibleName(ui.labelMaker->text());
    m_btnOk = ui.btnOk;
    m_btnOk->setAccessibleName(m_btnOk->text());
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
}
