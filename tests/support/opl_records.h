#pragma once
// Records as the OPL-98xx scanner holds them in its fixed columns, and the
// exports the program makes of the CSV and UGS files that the end-to-end
// tests put on the simulator (4711 x 12 and 0815 x 3, scanned 31.01.2024
// 14:05:09), on Linux and on Windows alike.

#include <QByteArray>

namespace vt::test {

inline QByteArray ShopRecord(const QByteArray& article, const QByteArray& quantity) {
    return article.leftJustified(28, ' ') + ' ' + quantity.rightJustified(6, ' ');
}
inline QByteArray CsvRecord(const QByteArray& article, const QByteArray& quantity) {
    return QByteArray("KST-1").leftJustified(12, ' ') + ' ' +
           QByteArray("LAGER").leftJustified(12, ' ') + ' ' + article.leftJustified(28, ' ') + ' ' +
           quantity.rightJustified(6, ' ') + " 31.01.2024 14:05:09";
}
inline QByteArray UgsRecord(const QByteArray& article, const QByteArray& quantity) {
    return article.leftJustified(28, ' ') + ' ' + quantity.rightJustified(6, ' ') +
           " 31.01.2024 14:05:09";
}

inline const QByteArray kCsvExport =
    "KST-1;LAGER;4711;12;31.01.2024;14:05:09\r\nKST-1;LAGER;0815;3;31.01.2024;14:05:09\r\n";

inline QByteArray UgsExport() {
    return "V 240131" + QByteArray(95, ' ') + "\r\n" + "A     4711" + QByteArray(13, ' ') +
           "   12" + QByteArray(13, '0') + "\r\n" + "A     0815" + QByteArray(13, ' ') + "    3" +
           QByteArray(13, '0') + "\r\n";
}

}  // namespace vt::test
