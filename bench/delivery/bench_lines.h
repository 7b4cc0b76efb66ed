#pragma once
// The lines the delivery benchmarks send, on Linux and under Wine alike, and
// how many of them arrived.

#include <QString>
#include <QStringList>

namespace vt::bench {

inline QStringList Lines(int n) {
    QStringList lines;
    for (int i = 1; i <= n; ++i)
        lines << QString("ART%1\t%2").arg(i, 5, 10, QChar(u'0')).arg(i % 9 + 1);
    return lines;
}

// Lines of `lines` found exactly once in `field`, where each line ends with
// `end`, and whether the field holds them all in order and nothing else.
inline int ArrivedOnce(const QString& field, const QStringList& lines, QChar end, bool* exact) {
    const QStringList got = field.split(end, Qt::SkipEmptyParts);
    *exact = got == lines;
    int once = 0;
    for (const QString& line : lines)
        once += got.count(line) == 1 ? 1 : 0;
    return once;
}

}  // namespace vt::bench
