#include "app/journal_window.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/convert.h"
#include "delivery/shop_delivery.h"
#include "delivery/shop_window.h"
#include "links/opl_record.h"
#include "links/opn_link.h"
#include "links/transfer_progress.h"
#include "platform/codepage.h"
#include "settings/settings.h"

namespace vt {
namespace {

bool IsOpn(const JournalEntry& e) {
    return e.device == Text(msg::DeviceOpn);
}

bool BatchMode() {
    return progpar.keysendmode == 1 || progpar.keysendmode == 2;
}

QString ShopText(const JournalEntry& e, int shop, const QByteArray& line) {
    if (IsOpn(e))
        return OpnPacketShopLine(shop, line);
    const QString record = cp1252::decode(std::string_view(line.constData(), size_t(line.size())));
    QStringList fields;
    SplitOplRecord(record, fields);
    return ShopLineText(shop, fields);
}

bool ResendToShop(const JournalEntry& e, int shop) {
    dialogs().message_box(QString::fromUtf8(txt::Confirm), QString::fromUtf8(txt::StartTransfer),
                          BoxIcon::Information, BoxButtons::Ok);
    // Through the delivery in use, which checks the form before every line
    // and says in the log why a line was not sent, as in a download.
    DeliveryChannel& channel = ShopDelivery();
    channel.find_window(shop);
    channel.confirm_first_line();
    QThread::msleep(static_cast<unsigned long>(channel.start_pause_ms()));
    channel.begin_batch();
    bool ok = true;
    for (const QByteArray& line : e.lines) {
        if (!channel.deliver_line(shop, ShopText(e, shop, line))) {
            ok = false;
            break;
        }
    }
    if (BatchMode())
        return ok && channel.paste_batch();
    // Lines still on their way are settled even after a failure, so their
    // log lines belong to this resend.
    const bool arrived = channel.await_last_paste();
    return ok && arrived;
}

// An OPL-98xx export: the lines become the working file again and are
// exported as the cycle does, under the export's own new name.
bool ResendExport(const JournalEntry& e) {
    QDir().mkpath(StartDir + QStringLiteral("Temp"));
    const QString name = e.file.isEmpty() ? QStringLiteral("JOURNAL.TXT") : e.file;
    const QString path = StartDir + QStringLiteral("Temp") + QDir::separator() + name;
    QFile work(path);
    if (!work.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowFileError(path);
        return false;
    }
    for (const QByteArray& line : e.lines)
        work.write(line + "\r\n");
    work.close();
    if (work.error() != QFileDevice::NoError) {
        ShowFileWriteError(path);
        return false;
    }
    const ExportResult r = e.target == int32_t(JournalTarget::Csv)
                               ? ExportCsvFile(path, progpar.csvdir + name)
                               : ExportUgsFile(path, progpar.ugsdir + name);
    const QString skipped = SkippedLinesLogLine(r);
    if (!skipped.isEmpty())
        display().log_line(skipped);
    return r.code == 1;
}

}  // namespace

QString JournalTargetName(int32_t target) {
    switch (target) {
        case int32_t(JournalTarget::BrandShop):
            return QString::fromUtf8(brand().shop_button);
        case int32_t(JournalTarget::SimpleSystem):
            return QString::fromUtf8(txt::ShopSimpleSystem);
        case int32_t(JournalTarget::Csv):
            return QString::fromUtf8(txt::TargetCsv);
        case int32_t(JournalTarget::Ugs):
            return QString::fromUtf8(txt::TargetUgs);
        case int32_t(JournalTarget::BarcodeCsv):
            return QString::fromUtf8(txt::TargetBarcodeCsv);
        default:
            return QString();
    }
}

QString JournalResultText(const JournalEntry& e) {
    if (e.state == JournalEntry::State::Damaged)
        return QString::fromUtf8(txt::HistoryDamaged);
    QString outcome;
    switch (e.outcome) {
        case JournalOutcome::Pasted:
            outcome = QString::fromUtf8(txt::HistoryPasted) + e.outcome_text;
            break;
        case JournalOutcome::Exported:
            outcome = QString::fromUtf8(txt::HistoryExported) + e.outcome_text;
            break;
        case JournalOutcome::Failed:
            outcome = QString::fromUtf8(txt::HistoryFailed) + e.outcome_text;
            break;
        case JournalOutcome::None:
            break;
    }
    if (e.state == JournalEntry::State::Incomplete)
        return outcome.isEmpty() ? QString::fromUtf8(txt::HistoryIncomplete)
                                 : QString::fromUtf8(txt::HistoryIncomplete) + QStringLiteral(", ") + outcome;
    return outcome;
}

QStringList JournalLineTexts(const JournalEntry& e) {
    QStringList out;
    for (const QByteArray& line : e.lines) {
        if (IsOpn(e)) {
            out << (line.size() > 6 ? QString::fromLatin1(line.mid(2, line.size() - 6))
                                    : QString());
        } else {
            out << cp1252::decode(std::string_view(line.constData(), size_t(line.size())));
        }
    }
    return out;
}

bool ResendJournalEntry(const JournalEntry& e) {
    if (CycleRunning) {
        dialogs().message_box(QString::fromUtf8(txt::History), QString::fromUtf8(txt::HistoryBusy),
                              BoxIcon::Information, BoxButtons::Ok);
        return false;
    }
    CycleRunningScope running;
    bool ok = false;
    if (e.target == int32_t(JournalTarget::BrandShop) ||
        e.target == int32_t(JournalTarget::SimpleSystem)) {
        ok = ResendToShop(e, e.target);
    } else if (e.target == int32_t(JournalTarget::Csv) || e.target == int32_t(JournalTarget::Ugs)) {
        ok = ResendExport(e);
    } else if (e.target == int32_t(JournalTarget::BarcodeCsv)) {
        ok = OpnPacketsToCsv(e.lines);
    }
    display().log_line(Text(ok ? msg::TransferOk : msg::TransferFailed));
    return ok;
}

JournalWindow::JournalWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QString::fromUtf8(txt::History));
    resize(820, 480);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("JournalList"));
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QString::fromUtf8(txt::HistoryTime),
                            QString::fromUtf8(txt::HistorySource),
                            QString::fromUtf8(txt::HistoryTarget),
                            QString::fromUtf8(txt::HistoryLines),
                            QString::fromUtf8(txt::HistoryResult)});
    lines_ = new QPlainTextEdit(this);
    lines_->setObjectName(QStringLiteral("JournalLines"));
    lines_->setReadOnly(true);
    lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(list_);
    split->addWidget(lines_);

    resend_ = new QPushButton(QString::fromUtf8(txt::HistoryResend), this);
    resend_->setObjectName(QStringLiteral("JournalResend"));
    save_ = new QPushButton(QString::fromUtf8(txt::HistorySaveAs), this);
    save_->setObjectName(QStringLiteral("JournalSaveAs"));
    auto* folder = new QPushButton(QString::fromUtf8(txt::HistoryOpenFolder), this);
    folder->setObjectName(QStringLiteral("JournalOpenFolder"));
    auto* close = new QPushButton(QString::fromUtf8(txt::HistoryClose), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(resend_);
    buttons->addWidget(save_);
    buttons->addWidget(folder);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);
    layout->addLayout(buttons);

    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { ShowSelected(); });
    connect(resend_, &QPushButton::clicked, this, [this] { Resend(); });
    connect(save_, &QPushButton::clicked, this, [this] { SaveAs(); });
    connect(folder, &QPushButton::clicked, this, [] {
        QDir().mkpath(JournalDir());
        QDesktopServices::openUrl(QUrl::fromLocalFile(JournalDir()));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    Reload();
}

void JournalWindow::Reload() {
    entries_ = ReadJournal(JournalDir());
    list_->clear();
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        const JournalEntry& e = entries_[i];
        const QString when = e.when.isValid()
                                 ? e.when.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                                 : QFileInfo(e.path).fileName();
        QString source = e.device;
        if (!e.file.isEmpty())
            source += QStringLiteral(" / ") + e.file;
        auto* item = new QTreeWidgetItem(list_, {when, source, JournalTargetName(e.target),
                                                 QString::number(e.lines.size()),
                                                 JournalResultText(e)});
        item->setData(0, Qt::UserRole, qlonglong(i));
    }
    for (int c = 0; c < 4; ++c)
        list_->resizeColumnToContents(c);
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    ShowSelected();
}

const JournalEntry* JournalWindow::Selected() const {
    const QTreeWidgetItem* item = list_->currentItem();
    if (!item)
        return nullptr;
    const qlonglong i = item->data(0, Qt::UserRole).toLongLong();
    return i >= 0 && i < entries_.size() ? &entries_[i] : nullptr;
}

void JournalWindow::ShowSelected() {
    const JournalEntry* e = Selected();
    lines_->setPlainText(e ? JournalLineTexts(*e).join(u'\n') : QString());
    const bool usable = e && e->state != JournalEntry::State::Damaged && !e->lines.isEmpty();
    resend_->setEnabled(usable && e->target >= 0);
    save_->setEnabled(usable);
}

void JournalWindow::Resend() {
    const JournalEntry* e = Selected();
    if (!e)
        return;
    const JournalEntry copy = *e;  // the list is read again afterwards
    ResendJournalEntry(copy);
    Reload();
}

void JournalWindow::SaveAs() {
    const JournalEntry* e = Selected();
    if (!e)
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, QString::fromUtf8(txt::HistorySaveAs).remove(u'…'),
        QDir(StartDir).filePath(e->file.isEmpty() ? QStringLiteral("Verlauf.txt") : e->file));
    if (path.isEmpty())
        return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowFileError(path);
        return;
    }
    // The OPL-98xx lines as they came, in their code page; OPN-2001 codes.
    const bool opn = IsOpn(*e);
    const QStringList texts = opn ? JournalLineTexts(*e) : QStringList();
    for (qsizetype i = 0; i < e->lines.size(); ++i)
        f.write((opn ? texts[i].toLatin1() : e->lines[i]) + "\r\n");
    f.close();
    if (f.error() != QFileDevice::NoError)
        ShowFileWriteError(path);
}

}  // namespace vt
