#pragma once
// Files whose bytes must be on the disk before the program goes on: the INI
// file, replaced whole so that a crash leaves the old one or the new one, and
// the journal, whose lines must be stored before the scanner may forget them.
// Descriptors are the C runtime's; -1 means none.

#include <QString>
#include <cstddef>

namespace vt::durable {

// Creates `path` for writing only if it does not exist yet; -1 with
// `*exists` set when another file has the name.
int CreateNew(const QString& path, bool* exists);

// A new file beside `target` to be renamed over it, with `target`'s access
// rights (or the default ones when it does not exist); its name goes into
// `*temp`.
int CreateBeside(const QString& target, QString* temp);

// Writes all bytes unless the file system refuses.
bool WriteAll(int fd, const char* data, size_t size);

// The data and what is needed to read it back are on the disk.
bool Flush(int fd);
// The data are on the disk (the file's times may follow later).
bool FlushData(int fd);

bool Close(int fd);

// Puts `temp` in the place of `target` in one step: a reader sees the old
// file or the new one, never a part.
bool Replace(const QString& temp, const QString& target);

void Remove(const QString& path);

// A file size limit must end in a failed write the caller can report, not
// in a signal that ends the whole program.
void NoSignalOnFileSizeLimit();

}  // namespace vt::durable
