#include "links/opl_cycle.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QTimer>

#include "settings/main_timers.h"
#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/convert.h"
#include "delivery/delivered_lines.h"
#include "delivery/shop_delivery.h"
#include "links/opl_protocol.h"
#include "links/opl_record.h"
#include "links/port_control.h"
#include "links/serial_link.h"
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

void LogExport(const ExportResult& r) {
    const QString skipped = SkippedLinesLogLine(r);
    if (!skipped.isEmpty())
        display().log_line(skipped);
}

// Receives the lines of an export file into its working file and converts
// it; 1 when the file arrived completely.
int32_t ReceiveExportFile(int index) {
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
    LogExport(index == 2 ? ExportCsvFile(path, progpar.csvdir + name)
                         : ExportUgsFile(path, progpar.ugsdir + name));
    return 1;
}

// Receives a shop file line by line and types each line into the shop's
// order form as it arrives (or collects it for one paste at the end).
int32_t ReceiveShopFile(int shop) {
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
    QByteArray payload;
    QStringList fields;
    while (present) {
        if (!OplReadLine(payload, true))
            break;
        if (payload.isEmpty()) {
            complete = true;
            break;
        }
        present = channel.find_window(shop);
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
    if (complete && present && delivered && !memory.end_of_file(deliver))
        delivered = false;
    // The last line counts once the browser has fetched it.
    const bool last_arrived = BatchMode() || channel.await_last_paste();
    delivered = delivered && last_arrived;
    work.close();
    memory.finish(complete && present && delivered, last_arrived);
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
    return index >= 2 ? ReceiveExportFile(index) : ReceiveShopFile(index);
}

void TimerOPLTimer() {
    if (progpar.device != 0)
        return;
    if (Timers.TimerOPL)
        Timers.TimerOPL->stop();
    ReenableTimerOPL reenable;

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
