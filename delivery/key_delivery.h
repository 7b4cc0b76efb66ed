#pragma once
// Puts scanned lines into the shop's order form: each line goes on the
// clipboard and is pasted with an injected Ctrl+V, after the shop's access
// key. The setting `keysendmode` picks: 1 collects the lines and pastes them
// at once, 2 collects them and leaves them on the clipboard, any other value
// pastes each line as it comes.
//
// Keys only ever go to the shop's window: when it is not the active window,
// it is brought back for up to 2 s; when that fails too (activation refused,
// window closed), nothing is sent, one log line says why, and the call
// returns false; the caller then ends its transfer as failed.

#include <QString>
#include <QStringList>

#include "delivery/delivery_channel.h"

class QLineEdit;

namespace vt {

// Set by a caller right after the user confirmed a transfer; the next line
// waits 500 ms after its access key. Cleared by every SendLine.
extern bool FirstLine;

// The hidden edit through which a line reaches the clipboard (the main
// window's Edit1). Without one, delivery uses a hidden edit of its own.
void SetClipboardEdit(QLineEdit* edit);

// Every line goes through here: pasted at once in mode 0, collected in
// modes 1 and 2. False when it should have been pasted and was not.
bool DeliverLine(int shop, const QString& line);

// Pastes one line at once: access key, Caps Lock off, clipboard, Ctrl+V,
// log line, Caps Lock back on. The text is set only once the line before
// has fetched its own; false, with nothing typed, when it did not.
bool SendLine(int shop, const QString& line);

// After the last line a transfer types: holds on until the browser has
// fetched its text (a line's fetch is otherwise awaited by the next line).
// False when the last paste did not fetch it: that line is not in the form.
bool AwaitLastPaste();

// After the last line of a transfer in modes 1 and 2: puts all collected
// lines on the clipboard, and in mode 1 pastes them with one Ctrl+V.
bool PasteBatch();

}  // namespace vt
