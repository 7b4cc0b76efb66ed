#pragma once
// Where the program keeps its INI file, Temp/ and default export folders.
// Started from a shell, that is the current directory. Started from the menu
// or at login, the current directory is the home folder or "/", so the menu
// and autostart entries pass kUserFolderOption and the program works in its
// per-user folder instead; so does a start from a directory it cannot write.

#include <QString>
#include <QStringList>

namespace vt {

inline constexpr const char* kUserFolderOption = "--user-folder";

// An XDG base directory: $<variable> when it is an
// absolute path, else ~/<fallback> (".local/share", ".config").
QString XdgBaseDir(const char* variable, const char* fallback);

// $XDG_DATA_HOME/<program>/ (default ~/.local/share/<program>/); on Windows
// %APPDATA%\<program>\.
QString UserFolder(const QString& program);

// True when a file can be created in `dir` (a read-only mount counts as not
// writable even for root).
bool DirectoryWritable(const QString& dir);

// The start directory for a run with `arguments` from `current`. A per-user
// folder is created when needed; when it cannot be, one box says so and the
// current directory is used. When the user folder replaces a start
// directory that holds an INI file (one it cannot write, or the folder a
// menu start starts in), the user folder gets a copy of it the first time,
// so the settings found there are not lost.
QString ChooseStartDir(const QStringList& arguments, const QString& current,
                       const QString& program, const QString& ini_name);

// ChooseStartDir for this process (its arguments, current directory and
// brand), made the current directory; ends with a separator.
QString StartDirForThisRun();

}  // namespace vt
