#include "settings/ui_seam.h"

#include <cstdio>

#include "settings/messages.h"

namespace vt {
namespace {

class HeadlessDialogs final : public Dialogs {
  public:
    void beep() override {}
    BoxResult message_box(const QString& title, const QString& text, BoxIcon,
                          BoxButtons buttons) override {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
        return buttons == BoxButtons::YesNo ? BoxResult::Yes : BoxResult::Ok;
    }
};

class HeadlessDisplay final : public Display {
  public:
    void log_line(const QString&) override {}
    void status_clear() override {}
    void status_line(const QString&) override {}
    void status_bar(const QString& text) override { bar_ = text; }
    QString status_bar_text() const override { return bar_; }
    void toggle_activity() override {}
    void update_tray(bool, const QString&) override {}

  private:
    QString bar_;
};

HeadlessDialogs g_headless_dialogs;
HeadlessDisplay g_headless_display;
Dialogs* g_dialogs = &g_headless_dialogs;
Display* g_display = &g_headless_display;

}  // namespace

Dialogs& dialogs() {
    return *g_dialogs;
}
Display& display() {
    return *g_display;
}
void set_dialogs(Dialogs* d) {
    g_dialogs = d ? d : &g_headless_dialogs;
}
void set_display(Display* d) {
    g_display = d ? d : &g_headless_display;
}

namespace {
void ShowFileBox(const char* text, const QString& path) {
    dialogs().beep();
    dialogs().message_box(QString::fromUtf8(txt::ErrorTitle), QString::fromUtf8(text) + path,
                          BoxIcon::Error, BoxButtons::Ok);
}
}  // namespace

void ShowFileError(const QString& path) { ShowFileBox(txt::FileOpenError, path); }
void ShowFileWriteError(const QString& path) { ShowFileBox(txt::FileWriteError, path); }
void ShowFileReadError(const QString& path) { ShowFileBox(txt::FileReadError, path); }

}  // namespace vt
