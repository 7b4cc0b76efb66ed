#pragma once
// Cutting the OPL-98xx shop records into what is typed into the order form.

#include <QString>
#include <QStringList>

namespace vt {

// Article number (columns 1-28) and quantity (30-35), each trimmed of
// spaces. A record too short for its columns is cut as far as it goes, the
// missing part empty; returns false for such a record so the caller can note
// it.
bool SplitOplRecord(const QString& record, QStringList& fields);

// With exactly two semicolons the text becomes what stands between them.
void ExtractBetweenSemicolons(QString& text);

// The text typed for shop 0 (article, TAB, quantity) or shop 1 (article).
QString ShopLineText(int shop, const QStringList& fields);

}  // namespace vt
