#include "links/opl_cycle.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <functional>

#include "settings/main_timers.h"
#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/convert.h"
#include "delivery/delivered_lines.h"
#include "delivery/shop_delivery.h"
#include "links/journal.h"
#include "links/opl_protocol.h"
#include "links/opl_record.h"
#include "links/port_control.h"
#include "links/serial_link.h"
#include "links/transfer_progress.h"
#include "platform/codepage.h"
#include "settings/settings.h"

namespace vt {
namespace {

bool BatchMode() {
    return progpar.keysendmode == 1 || progpar.keysendmode == 2;
}

QString WorkingFilePath(int index) {
    return StartDir + QStringLiteral("Temp") + QDir::separator() +
           OplFiles[static_cast<size_t>(index)].filename;
}

// Runs at the end of every cycle, whatever happened in it.
struct ReenableTimerOPL {
    ~ReenableTimerOPL() {
        if (Timers.TimerOPL)
            Timers.TimerOPL->start();
    }
};

// Every line of a file as it arrives: into the journal at once (the scanner
// may forget it soon), and counted on the screen.
struct ReceivedFile {
    explicit ReceivedFile(const QString& name) : progress(ReceivingFilePattern(name)) {}
    JournalWriter journal;
    TransferProgress progress;
    // Runs before the end marker is acknowledged; false keeps the file on
    // the scanner (the end marker stays unacknowledged).
    std::function<bool()> before_end_ack;
    void line(const QByteArray& payload) {
        journal.add_line(payload);
        progress.add();
    }
};

void LogExport(const ExportResult& r) {
    const QString skipped = SkippedLinesLogLine(r);
    if (!skipped.isEmpty())
        display().log_line(skipped);
}

// Receives the lines of an export file into its working file and converts
// it; 1 when the file arrived completely.
int32_t ReceiveExportFile(int index, ReceivedFile& file) {
    const QString path = WorkingFilePath(index);
    QFile work(path);
    if (!work.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowFileError(path);
        return 0;
    }
    bool complete = false;
    QByteArray line;
    while (OplReadLine(line, true)) {
        if (line.isEmpty()) {
            complete = true;
            break;
        }
        file.line(line);
        line.append("\r\n");
        // A working file that cannot take the line must not be exported half.
        if (work.write(line) != line.size()) {
            display().log_line(QString::fromUtf8(txt::FileWriteError) + path);
            break;
        }
    }
    work.close();
    if (!complete || work.error() != QFileDevice::NoError)
        return 0;
    const QString& name = OplFiles[static_cast<size_t>(index)].filename;
    const ExportResult r = index == 2 ? ExportCsvFile(path, progpar.csvdir + name)
                                      : ExportUgsFile(path, progpar.ugsdir + name);
    LogExport(r);
    JournalExport(file.journal, r);
    return 1;
}

// Receives a shop file line by line and types each line into the shop's
// order form as it arrives (or collects it for one paste at the end).
int32_t ReceiveShopFile(int shop, ReceivedFile& file) {
    DeliveryChannel& channel = ShopDelivery();
    bool present = channel.find_window(shop);
    // The wait deliberately lets no other handler run.
    QThread::msleep(static_cast<unsigned long>(channel.start_pause_ms()));
    const QString path = WorkingFilePath(shop);
    QFile work(path);
    if (!work.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowFileError(path);
        return 0;
    }
    if (BatchMode())
        channel.begin_batch();
    DeliveredLines& memory = ShopFileMemory();
    memory.begin(shop, browserrecord.handle);
    const auto deliver = [&](const QString& line) { return channel.deliver_line(shop, line); };
    bool complete = false;
    bool delivered = true;
    // A line's arrival is awaited by the next line; the last one's must be
    // known before the scanner is allowed to let the file go.
    bool end_settled = false;
    bool last_arrived = true;
    file.before_end_ack = [&] {
        end_settled = true;
        if (!memory.end_of_file(deliver))
            delivered = false;
        last_arrived = BatchMode() || channel.await_last_paste();
        return delivered && last_arrived;
    };
    QByteArray payload;
    QStringList fields;
    while (present) {
        if (!OplReadLine(payload, true))
            break;
        if (payload.isEmpty()) {
            complete = true;
            break;
        }
        file.line(payload);
        present = channel.window_still_there(shop);
        if (!present)
            break;
        const QString record =
            cp1252::decode(std::string_view(payload.constData(), size_t(payload.size())));
        if (!SplitOplRecord(record, fields)) {
            display().log_line(QString::fromUtf8(txt::ShortRecord) + record);
        }
        work.write(payload + "\r\n");
        // A line the shop did not get ends the file: the scanner keeps it.
        if (!memory.pass(ShopLineText(shop, fields), browserrecord.handle, deliver)) {
            delivered = false;
            break;
        }
    }
    file.before_end_ack = nullptr;
    // The last line counts once the browser has fetched it.
    if (!end_settled)
        last_arrived = BatchMode() || channel.await_last_paste();
    delivered = delivered && last_arrived;
    work.close();
    memory.finish(complete && present && delivered, last_arrived ? 0 : channel.lines_not_arrived());
    if (!complete || !present || !delivered)
        return 0;
    if (BatchMode() && !channel.paste_batch()) {
        // The end marker is acknowledged already, so the scanner may have let
        // the file go: keystrokes leave the lines on the clipboard for the
        // user (the extension has said why its text did not arrive).
        if (progpar.delivery != 1)
            display().log_line(QString::fromUtf8(txt::BatchLeftOnClipboard));
        return 0;
    }
    return 1;
}

}  // namespace

void OplShowFiles() {
    for (int i = 0; i < 4; ++i) {
        const fileinforecord& f = OplFiles[static_cast<size_t>(i)];
        if (f.count <= 0)
            continue;
        QString line = f.m2text.leftJustified(25, u' ') + QStringLiteral(" (") +
                       QString::number(f.count) + u')';
        if (i < 2 && !browserrecord.state[static_cast<size_t>(i)]) {
            line += QString::fromUtf8(txt::NotActiveSuffix);
        }
        display().status_line(line);
    }
}

int32_t OplReceiveFile(int index) {
    if (index < 0 || index > 3 || !OplRequestFile(index))
        return 0;
    const QString& name = OplFiles[static_cast<size_t>(index)].filename;
    ReceivedFile file(name);
    file.journal.begin(Text(msg::DeviceOpl), name, JournalTarget(index));
    int32_t result = 0;
    {
        // The scanner may forget the file once its end marker is acknowledged.
        OplBeforeEndAck synced([&file] {
            file.journal.complete();
            return !file.before_end_ack || file.before_end_ack();
        });
        result = index >= 2 ? ReceiveExportFile(index, file) : ReceiveShopFile(index, file);
    }
    if (index < 2)
        JournalShopOutcome(file.journal, index, result == 1);
    return result;
}

void TimerOPLTimer() {
    // A resend from "Verlauf" pumps events while it types; a cycle started
    // from inside it would talk to the scanner and search the shop windows
    // anew under the resend's feet. The timer fires again afterwards.
    if (progpar.device != 0 || CycleRunning)
        return;
    if (Timers.TimerOPL)
        Timers.TimerOPL->stop();
    ReenableTimerOPL reenable;
    CycleRunningScope running;

    const int32_t poll = OplPoll();
    if (poll != 6) {
        display().status_clear();
        display().status_line(Text(poll == 21 ? msg::MdeNoData : msg::MdeWaiting));
        // A cradle unplugged and plugged in again comes back as a new device;
        // the old handle would stay silent for ever. The open timer takes
        // over, with its status texts, until the port opens again.
        if (poll == -1 && ComVanished(ComHandle)) {
            CloseComport();
            OpenComport();
        }
        return;
    }
    const int32_t table = OplFileinfo();
    display().status_clear();
    display().status_line(Text(table == 6    ? msg::MdeReady
                               : table == 21 ? msg::MdeNoData
                                             : msg::MdeWaiting));
    DeliveryChannel& channel = ShopDelivery();
    const QString channel_text = channel.status_text();
    if (!channel_text.isEmpty())
        display().status_line(channel_text);
    OplShowFiles();
    channel.find_window(0);
    channel.find_window(1);
    if (table != 6)
        return;

    auto download = [](int index) {
        fileinforecord& f = OplFiles[static_cast<size_t>(index)];
        if (OplReceiveFile(index) == 1) {
            f.fsize = 0;
            f.count = 0;
        }
    };
    if (OplFiles[2].count > 0)
        download(2);
    if (OplFiles[3].count > 0)
        download(3);
    if (OplFiles[0].count > 0 && browserrecord.state[0]) {
        dialogs().message_box(QString::fromUtf8(txt::Confirm),
                              QString::fromUtf8(txt::StartTransfer), BoxIcon::Information,
                              BoxButtons::Ok);
        download(0);
    }
    if (OplFiles[1].count > 0 && browserrecord.state[1])
        download(1);
    // "HME0" only when every file held records and none of them arrived.
    if (OplFiles[2].count > 0 && OplFiles[3].count > 0 && OplFiles[0].count > 0 &&
        OplFiles[1].count > 0) {
        OplSendEnd();
    }
}

}  // namespace vt
