#pragma once
// Records every box and beep and answers boxes with prepared results, so tests
// see what the user would have seen without a person at the screen.

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "settings/ui_seam.h"

namespace vt::test {

struct ShownBox {
    QString title;
    QString text;
    BoxIcon icon;
    BoxButtons buttons;
};

class RecordingDialogs final : public Dialogs {
  public:
    RecordingDialogs() { set_dialogs(this); }
    ~RecordingDialogs() override { set_dialogs(nullptr); }
    void beep() override {
        ++beeps;
        events << "beep";
    }
    BoxResult message_box(const QString& title, const QString& text, BoxIcon icon,
                          BoxButtons buttons) override {
        boxes.push_back({title, text, icon, buttons});
        events << "box:" + text;
        if (!answers.empty()) {
            const BoxResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == BoxButtons::YesNo ? BoxResult::Yes : BoxResult::Ok;
    }
    int beeps = 0;
    std::vector<ShownBox> boxes;
    QStringList events;
    std::deque<BoxResult> answers;
};

class RecordingDisplay final : public Display {
  public:
    RecordingDisplay() { set_display(this); }
    ~RecordingDisplay() override { set_display(nullptr); }
    void log_line(const QString& line) override { log << line; }
    void status_clear() override { status.clear(); }
    void status_line(const QString& line) override { status << line; }
    void status_bar(const QString& text) override { bar = text; }
    QString status_bar_text() const override { return bar; }
    void toggle_activity() override { ++toggles; }
    void update_tray(bool ready, const QString& tooltip) override {
        tray_ready = ready;
        tray_tip = tooltip;
        ++tray_updates;
    }
    bool tray_ready = true;
    QString tray_tip;
    int tray_updates = 0;
    QStringList log;
    QStringList status;
    QString bar;
    int toggles = 0;
};

}  // namespace vt::test
