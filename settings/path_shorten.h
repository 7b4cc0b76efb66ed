#pragma once
// How a directory is shown in a read-only field too narrow for it.

#include <QString>
#include <functional>

namespace vt {

// The whole path when it is at most `limit` wide; otherwise the path's root
// ("/", or nothing for a relative path), "..." and the path from one of its
// separators on, dropping one leading directory per step until the text fits
// or only the last directory (with its trailing separator) is left.
// Separators from the 256th character on are not considered.
QString ShortenPath(const QString& path, int limit,
                    const std::function<int(const QString&)>& width);

}  // namespace vt
