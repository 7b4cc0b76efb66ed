#include "app/trans_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>

#include "settings/settings.h"

namespace vt {

TForm1::TForm1() { FormCreate(); }

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
    if (instance_.acquire(QString::fromUtf8(brand().mutex_name)) ==
        SingleInstance::Result::AlreadyRunning) {
        QApplication::beep();
        return;
    }
    StartDir = WithTrailingSeparator(QDir::currentPath());
    IniName = QString::fromUtf8(brand().ini_name);
    LoadSettings();
    created_ = true;
}

bool TForm1::FormCloseQuery() {
    SaveSettings();
    return true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::FormDestroy() {}

}  // namespace vt
