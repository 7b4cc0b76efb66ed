#include "settings/path_shorten.h"

#include "settings/messages.h"

namespace vt {

QString ShortenPath(const QString& path, int limit,
                    const std::function<int(const QString&)>& width) {
    QString result = path;
    const qsizetype root = path.startsWith(u'/') ? 1 : 0;
    // The separator that ends a directory belongs to its name: cutting there
    // would leave only the root and "..." to read.
    const qsizetype end = path.endsWith(u'/') ? path.size() - 1 : path.size();
    constexpr qsizetype kLastPosition = 255;
    qsizetype p = root;
    while (p < kLastPosition && width(result) > limit) {
        const qsizetype s = path.indexOf(u'/', p);
        if (s < 0 || s >= end || s >= kLastPosition)
            break;
        result = path.left(root) + QString::fromUtf8(txt::Ellipsis) + path.mid(s);
        p = s + 1;
    }
    return result;
}

}  // namespace vt
