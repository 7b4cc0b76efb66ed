#pragma once
// The main window.

#include <QWidget>

#include "platform/single_instance.h"

namespace vt {

class TForm1 : public QWidget {
    Q_OBJECT
public:
    TForm1();
    ~TForm1() override;
    // False when FormCreate found another copy of this brand running.
    bool created() const { return created_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    bool FormCloseQuery();
    void FormDestroy();

    SingleInstance instance_;
    bool created_ = false;
};

}  // namespace vt
