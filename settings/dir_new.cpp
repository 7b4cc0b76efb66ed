#include "settings/dir_new.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "settings/messages.h"

namespace vt {

TFormDirNew::TFormDirNew(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormDirNew"));
    setWindowTitle(QString::fromUtf8(txt::NewDirectory));
    setModal(true);

    Label1 = new QLabel(QString::fromUtf8(txt::Directory), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(260);
    Label1->setBuddy(Edit1);
    ButtonAbbrechen = new QPushButton(QString::fromUtf8(txt::Cancel), this);
    ButtonAbbrechen->setObjectName(QStringLiteral("ButtonAbbrechen"));
    ButtonAbbrechen->setAutoDefault(false);
    ButtonUebernehmen = new QPushButton(QString::fromUtf8(txt::Create), this);
    ButtonUebernehmen->setObjectName(QStringLiteral("ButtonUebernehmen"));
    ButtonUebernehmen->setDefault(true);

    auto* row = new QHBoxLayout;
    row->addWidget(Label1);
    row->addWidget(Edit1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonAbbrechen);
    buttons->addWidget(ButtonUebernehmen);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ButtonAbbrechen, &QPushButton::clicked, this, &TFormDirNew::ButtonAbbrechenClick);
    connect(ButtonUebernehmen, &QPushButton::clicked, this, &TFormDirNew::ButtonUebernehmenClick);
}

void TFormDirNew::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window manager's restore also shows the window; only an opening refills it.
    if (!event->spontaneous())
        FormActivate();
}

void TFormDirNew::FormActivate() {
    Edit1->clear();
    Edit1->setFocus();
}

void TFormDirNew::ButtonAbbrechenClick() {
    reject();
}

void TFormDirNew::ButtonUebernehmenClick() {
    NewDirName = Edit1->text();
    accept();
}

// Every way out but "Erstellen" (the close box, Escape, "Abbrechen") creates nothing.
void TFormDirNew::done(int result) {
    if (result != QDialog::Accepted)
        NewDirName.clear();
    QDialog::done(result);
}

}  // namespace vt
