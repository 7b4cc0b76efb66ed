#include "links/opn_link.h"

#include <QTimer>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "settings/main_timers.h"
#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "csp2/csp2.h"
#include "delivery/convert.h"
#include "delivery/delivered_lines.h"
#include "links/journal.h"
#include "links/port_control.h"
#include "links/serial_link.h"
#include "links/transfer_progress.h"
#include "settings/settings.h"

namespace vt {
namespace {

// After the first failure the link is retried less often, for the rest of
// the run, as the OPL-98xx port is.
constexpr int kRetryIntervalMs = 2500;
constexpr int32_t kPacketSize = 100;
constexpr int32_t kStampTextSize = 100;
constexpr uint8_t kEan8 = 10;

void Start(QTimer* t) {
    if (t)
        t->start();
}

void Stop(QTimer* t) {
    if (t)
        t->stop();
}

bool BatchMode() {
    return progpar.keysendmode == 1 || progpar.keysendmode == 2;
}

bool IsShop(int32_t target) {
    return target == 0 || target == 1;
}

// Only the brand shop, the "Simple System" shop and, in the Mirabo and
// Dörfal builds, the barcode CSV take barcodes. A target this build cannot
// serve must leave them on the scanner: reading them would only end in a
// clear that erases them undelivered.
bool CanDeliver(int32_t target) {
    return IsShop(target) || (target == 2 && IsMiraboOrDoerfal());
}

// One barcode as the library hands it out.
struct Packet {
    QByteArray raw;   // the packet as the library handed it out
    QByteArray code;  // bytes 2 to L-5
    uint8_t symbology = 0;
    std::array<uint8_t, 5> stamp{};  // 4 bytes and a closing zero
};

// A packet from the bytes the library handed out.
bool PacketFromRaw(const QByteArray& raw, Packet& p) {
    if (raw.size() <= 5 || raw.size() > kPacketSize)
        return false;
    p.raw = raw;
    p.symbology = uint8_t(raw[1]);
    p.code = raw.mid(2, raw.size() - 6);
    std::memcpy(p.stamp.data(), raw.constData() + raw.size() - 4, 4);
    return true;
}

// Every packet of a read, or false when any of them could not be fetched.
// All are fetched before any is delivered: a read with a bad packet is
// delivered nowhere, so offering it again later cannot double the rest.
bool FetchPackets(int32_t n, std::vector<Packet>& packets) {
    bool complete = true;
    packets.clear();
    for (int32_t i = 0; i < n; ++i) {
        std::array<uint8_t, kPacketSize> buffer{};
        const int32_t length = csp2GetPacket(buffer.data(), i, kPacketSize);
        if (length <= 5 || length > kPacketSize) {
            display().log_line(QStringLiteral("Get Packet = %1").arg(length));
            complete = false;
            continue;
        }
        Packet p;
        PacketFromRaw(QByteArray(reinterpret_cast<const char*>(buffer.data()), length), p);
        packets.push_back(std::move(p));
    }
    return complete;
}

void LogBarcodeCount(int32_t n) {
    if (progpar.debug)
        display().log_line(QStringLiteral("Barcodes = %1").arg(n));
}

// The line a barcode becomes for `shop`.
QString ShopLine(int32_t shop, const Packet& p) {
    // The shops see the code up to its first zero byte.
    QByteArray raw = p.code;
    const qsizetype zero = raw.indexOf('\0');
    if (zero >= 0)
        raw.truncate(zero);
    QString code = QString::fromLatin1(raw);
    if (shop != 0)
        return code;
    if (code.contains(u';')) {
        OpnSplitCode(code);
        return code;
    }
    // An EAN-8 code arrives with its check digit, which the shop does not want.
    if (code.size() == 8 && p.symbology == kEan8)
        code.chop(1);
    return code + QStringLiteral("\t1");
}

// Every read goes to the journal before it is delivered, and so long before
// the scanner is cleared; a read that failed is kept as failed.
void JournalRead(JournalWriter& journal, int32_t target, const std::vector<Packet>& packets,
                 bool complete) {
    journal.begin(Text(msg::DeviceOpn), progpar.port,
                  target == 2 ? JournalTarget::BarcodeCsv : JournalTarget(target));
    for (const Packet& p : packets)
        journal.add_line(p.raw);
    if (complete)
        journal.complete();
    else
        journal.outcome(JournalOutcome::Failed, Text(msg::TransferFailed));
}

// The barcodes of the last read that reached their target: what the scanner
// must still hold, and nothing more, before it may be cleared.
std::vector<Packet> g_delivered;

// Hands the packets to the shop's order form, in batch modes with one paste.
bool DeliverToShop(DeliveryChannel& shop, int32_t target, const std::vector<Packet>& packets,
                   JournalWriter& journal) {
    const QString bar = display().status_bar_text();
    bool ok = true;
    {
        TransferProgress progress(QString::fromUtf8(txt::ReceivingBarcodes));
        // The scanner keeps every barcode of a failed transfer; those that
        // reached this same form then are not typed into it again.
        DeliveredLines& memory = ShopFileMemory();
        memory.begin(target, browserrecord.handle);
        const auto deliver = [&](const QString& line) {
            const bool sent = shop.deliver_line(target, line);
            if (sent)
                progress.add();
            return sent;
        };
        for (const Packet& p : packets) {
            if (!memory.pass(ShopLine(target, p), browserrecord.handle, deliver)) {
                ok = false;
                break;
            }
        }
        if (ok)
            ok = memory.end_of_file(deliver);
        // The last barcode counts once the browser has fetched it.
        const bool last_arrived = BatchMode() || shop.await_last_paste();
        ok = ok && last_arrived;
        memory.finish(ok, last_arrived ? 0 : shop.lines_not_arrived());
    }
    display().status_bar(bar);
    if (ok && BatchMode())
        ok = shop.paste_batch();
    JournalShopOutcome(journal, target, ok);
    return ok;
}

// Writes the packets as a new barcode CSV file.
bool WriteCsv(const std::vector<Packet>& packets, JournalWriter& journal) {
    BarcodeCsvWriter writer;
    if (!writer.Create()) {
        journal.outcome(JournalOutcome::Failed, Text(msg::TransferFailed));
        return false;
    }
    for (const Packet& p : packets) {
        QString date;
        QString time;
        OpnDecodeStamp(p.stamp.data(), date, time);
        const QString line = writer.WriteLine(QString::fromLatin1(p.code), date, time);
        if (progpar.debug)
            display().log_line(line);
    }
    const bool written = writer.Close();
    journal.outcome(written ? JournalOutcome::Exported : JournalOutcome::Failed,
                    written ? writer.final_name() : Text(msg::TransferFailed));
    return written;
}

// A delivery in mode 0 can take many seconds after a confirmation box; a
// barcode scanned meanwhile would be erased by the clear without ever being
// delivered. So the scanner is read again first: what was delivered and
// nothing else -> clear; the same followed by new barcodes -> those are
// delivered in the same transfer and the scanner read again; anything else
// stays on the scanner.
constexpr int kClearCheckRounds = 3;

void ClearWhenDelivered(DeliveryChannel& shop, int32_t target) {
    for (int round = 0; round < kClearCheckRounds; ++round) {
        const int32_t n = csp2ReadData();
        std::vector<Packet> now;
        if (n < 0 || !FetchPackets(n, now)) {
            display().log_line(QString::fromUtf8(txt::OpnNotClearedUnread));
            return;
        }
        const size_t had = g_delivered.size();
        const bool same_start =
            now.size() >= had && std::equal(g_delivered.begin(), g_delivered.end(), now.begin(),
                                            [](const Packet& a, const Packet& b) {
                                                return a.raw == b.raw;
                                            });
        if (!same_start) {
            display().log_line(QString::fromUtf8(txt::OpnNotClearedChanged));
            return;
        }
        if (now.size() == had) {
            csp2ClearData();
            return;
        }
        const std::vector<Packet> fresh(now.begin() + ptrdiff_t(had), now.end());
        LogBarcodeCount(int32_t(fresh.size()));
        JournalWriter journal;
        JournalRead(journal, target, fresh, true);
        if (IsShop(target) && BatchMode())
            shop.begin_batch();
        const bool ok = IsShop(target) ? DeliverToShop(shop, target, fresh, journal)
                                       : WriteCsv(fresh, journal);
        if (!ok) {
            display().log_line(Text(msg::TransferFailed));
            return;
        }
        g_delivered = std::move(now);
    }
    display().log_line(QString::fromUtf8(txt::OpnNotClearedChanged));
}

int32_t Digit(char c) {
    return int32_t(uint8_t(c)) - 48;
}

}  // namespace

int32_t OpnPortNumber(const QString& port) {
    int32_t n = 0;
    if (port.size() >= 4)
        n = int32_t(port[3].unicode()) - 48;
    if (port.size() > 4)
        n = n * 10 + int32_t(port[4].unicode()) - 48;
    return n;
}

int32_t OpnInitLink() {
    return csp2InitEx(OpnPortNumber(progpar.port));
}

int32_t OpnReadVersion() {
    char buffer[20] = {};
    const int32_t n = csp2GetDllVersion(buffer, int32_t(sizeof buffer));
    if (n < 0)
        return 1;
    // The text ends at its zero byte, not at the length the library counts.
    QString version = QString::fromLatin1(buffer, qsizetype(strnlen(buffer, sizeof buffer)));
    version.remove(u' ');
    version.replace(u',', u'.');
    opn.dllversion = version;
    return 1;
}

int32_t OpnPoll() {
    display().toggle_activity();
    if (PortClosed)
        return -1;
    if (csp2Interrogate() < 0)
        return -1;
    const int32_t d = csp2DataAvailable();
    if (d > 0)
        return 6;
    if (d == 0)
        return 21;
    return -1;
}

void OpnSplitCode(QString& code) {
    QStringList items;
    SplitDelimited(u';', code, items);
    if (items.size() == 3)
        code = items[1] + u'\t' + items[2];
}

void OpnStampTextToDateTime(const char* text, QString& date, QString& time) {
    char t[22];
    std::memcpy(t, text, sizeof t);
    for (int i = 0; i < 22; ++i) {
        if ((i <= 7 || i >= 12) && t[i] == ' ')
            t[i] = '0';
    }
    auto number = [&](int at) { return Digit(t[at]) * 10 + Digit(t[at + 1]); };
    int32_t hour = number(0);
    const int32_t minute = number(3);
    const int32_t second = number(6);
    const int32_t month = number(12);
    const int32_t day = number(15);
    const int32_t year = number(18) + 2000;
    // 12 AM is the first hour of the day, 12 PM stays 12.
    if (t[9] == 'P' && hour != 12)
        hour += 12;
    if (t[9] == 'A' && hour == 12)
        hour = 0;
    date = QString::asprintf("%02d.%02d.%04d", day, month, year);
    time = QString::asprintf("%02d:%02d:%02d", hour, minute, second);
    date.replace(u' ', u'0');
    time.replace(u' ', u'0');
}

void OpnDecodeStamp(const uint8_t* stamp, QString& date, QString& time) {
    char text[kStampTextSize] = {};
    if (csp2TimeStamp2Str(stamp, text, kStampTextSize) != 0) {
        date = QStringLiteral("01.01.2000");
        time = QStringLiteral("00:00:00");
        return;
    }
    OpnStampTextToDateTime(text, date, time);
}

int32_t OpnReadToShop(DeliveryChannel& shop) {
    const int32_t target = browserrecord.mode;
    DelayWithMessages(200);
    const int32_t n = csp2ReadData();
    LogBarcodeCount(n);
    if (BatchMode())
        shop.begin_batch();
    std::vector<Packet> packets;
    JournalWriter journal;
    if (n < 0) {
        JournalRead(journal, target, packets, false);
        return -1;
    }
    if (n == 0)
        return 0;

    opn.asciimode = csp2GetASCIIMode() > 0;
    opn.rtcmode = csp2GetRTCMode() > 0;
    bool ok = FetchPackets(n, packets);
    JournalRead(journal, target, packets, ok);
    if (ok && IsShop(target))
        ok = DeliverToShop(shop, target, packets, journal);
    if (ok)
        g_delivered = std::move(packets);
    return ok ? 1 : -1;
}

int32_t OpnReadToCsv() {
    const int32_t n = csp2ReadData();
    LogBarcodeCount(n);
    std::vector<Packet> packets;
    JournalWriter journal;
    if (n < 0) {
        JournalRead(journal, 2, packets, false);
        return -1;
    }
    if (n == 0)
        return 0;
    // No file is left behind for a read that cannot be written whole.
    const bool fetched = FetchPackets(n, packets);
    JournalRead(journal, 2, packets, fetched);
    if (!fetched)
        return -1;
    if (!WriteCsv(packets, journal))
        return -1;
    g_delivered = std::move(packets);
    return 1;
}

void TimerOPNComopenTimer() {
    Stop(Timers.TimerOPNComopen);
    const int32_t r = OpnInitLink();
    if (r >= 0) {
        display().status_bar(QStringLiteral(" ") + Text(msg::PortOpened));
        PortClosed = false;
        Start(Timers.TimerOPN);
        OpnReadVersion();
    } else {
        if (Timers.TimerOPNComopen)
            Timers.TimerOPNComopen->setInterval(kRetryIntervalMs);
        display().status_bar(PortOpenFailedText(progpar.port));
        PortClosed = true;
        Stop(Timers.TimerOPN);
        Start(Timers.TimerOPNComopen);
    }
}

void OpnCycle(DeliveryChannel& shop) {
    // Not inside a resend from "Verlauf" (see TimerOPLTimer).
    if (progpar.device != 1 || CycleRunning)
        return;
    Stop(Timers.TimerOPN);
    CycleRunningScope running;
    const int32_t target = browserrecord.mode;
    const bool found = IsShop(target) ? shop.find_window(target) : true;
    const int32_t state = OpnPoll();
    // An unplugged scanner leaves a dead port behind: the open timer takes
    // over, with its status texts, until the device can be opened again.
    const bool vanished = state < 0 && csp2PortVanished();
    if (vanished)
        OpenComport();
    Display& d = display();
    d.status_clear();
    if (IsShop(target)) {
        const QString channel = shop.status_text();
        if (!channel.isEmpty())
            d.status_line(channel);
    }
    if (IsShop(target)) {
        if (found) {
            d.status_line(Text(msg::BrowserOk));
            if (progpar.alwaysforeground)
                shop.bring_to_front();
        } else {
            d.update_tray(false, Text(brand().tray_no_form));
            d.status_line(Text(msg::BrowserNoForm));
        }
    }
    if (state == 6) {
        if (found)
            d.update_tray(true, Text(brand().tray_ready));
        d.status_line(Text(msg::MdeReady));
    } else if (state == 21) {
        d.status_line(Text(msg::MdeNoData));
    } else {
        if (found)
            d.update_tray(false, Text(brand().tray_not_ready));
        d.status_line(Text(msg::MdeNotReady));
    }
    if (found && state == 6 && CanDeliver(target)) {
        int32_t result = 0;
        if (target == 2) {
            result = OpnReadToCsv();
        } else {
            dialogs().message_box(QString::fromUtf8(txt::Confirm),
                                  QString::fromUtf8(txt::StartTransfer), BoxIcon::Information,
                                  BoxButtons::Ok);
            shop.bring_to_front();
            shop.confirm_first_line();
            result = OpnReadToShop(shop);
        }
        if (result > 0) {
            d.log_line(Text(msg::TransferOk));
            if (!(progpar.debug && progpar.donotdelete))
                ClearWhenDelivered(shop, target);
        } else if (result < 0) {
            d.log_line(Text(msg::TransferFailed));
        }
    }
    if (!vanished)
        Start(Timers.TimerOPN);
}

QString OpnPacketShopLine(int32_t shop, const QByteArray& packet) {
    Packet p;
    return PacketFromRaw(packet, p) ? ShopLine(shop, p) : QString();
}

bool OpnPacketsToCsv(const QList<QByteArray>& packets) {
    std::vector<Packet> all;
    for (const QByteArray& raw : packets) {
        Packet p;
        if (!PacketFromRaw(raw, p))
            return false;
        all.push_back(std::move(p));
    }
    JournalWriter unrecorded;
    return WriteCsv(all, unrecorded);
}

}  // namespace vt
