#pragma once
// Every message box and every beep of the program goes through here, and so do
// the main window's display places. The real program installs Qt-backed
// implementations; tests install recorders and answer boxes without a person.

#include <QString>

namespace vt {

enum class BoxIcon { Information, Warning, Error, Question };
enum class BoxButtons { Ok, YesNo };
enum class BoxResult { Ok, Yes, No };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual void beep() = 0;
    virtual BoxResult message_box(const QString& title, const QString& text, BoxIcon icon,
                                  BoxButtons buttons) = 0;
};

// The main window's places: log list (Memo1), status list (Memo2), status bar
// and activity indicator.
class Display {
  public:
    virtual ~Display() = default;
    virtual void log_line(const QString& line) = 0;
    virtual void status_clear() = 0;
    virtual void status_line(const QString& line) = 0;
    virtual void status_bar(const QString& text) = 0;
    virtual QString status_bar_text() const = 0;
    virtual void toggle_activity() = 0;
    // The tray icon: the ready (cyan) or not-ready (red) scanner, and its tooltip.
    virtual void update_tray(bool ready, const QString& tooltip) = 0;
};

// Never null: without an installed implementation a headless one writes to
// standard error and answers every box with its first button.
Dialogs& dialogs();
Display& display();
void set_dialogs(Dialogs* d);  // nullptr restores the headless one
void set_display(Display* d);

// Beep, then an error box titled "Fehler" with one OK button.
void ShowFileError(const QString& path);
// The same box for a file that was opened but could not be written or read to its end.
void ShowFileWriteError(const QString& path);
void ShowFileReadError(const QString& path);

}  // namespace vt
