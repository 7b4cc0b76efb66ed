#include "links/opl_record.h"

#include "delivery/convert.h"

namespace vt {
namespace {
constexpr int kArticleWidth = 28;
constexpr int kQuantityStart = 29;  // 0-based column 30
constexpr int kQuantityWidth = 6;
constexpr int kRecordLength = kQuantityStart + kQuantityWidth;
}  // namespace

bool SplitOplRecord(const QString& record, QStringList& fields) {
    fields.clear();
    QString article = record.left(kArticleWidth);
    QString quantity = record.mid(kQuantityStart, kQuantityWidth);
    TrimSpaces(article);
    TrimSpaces(quantity);
    fields << article << quantity;
    return record.size() >= kRecordLength;
}

void ExtractBetweenSemicolons(QString& text) {
    const qsizetype first = text.indexOf(u';');
    if (first < 0) return;
    const qsizetype second = text.indexOf(u';', first + 1);
    if (second < 0 || text.indexOf(u';', second + 1) >= 0) return;
    text = text.mid(first + 1, second - first - 1);
}

QString ShopLineText(int shop, const QStringList& fields) {
    QString article = fields.value(0);
    if (shop == 1) return article;
    if (article.contains(u';')) ExtractBetweenSemicolons(article);
    return article + u'\t' + fields.value(1);
}

}  // namespace vt
