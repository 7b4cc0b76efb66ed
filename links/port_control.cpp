#include "links/port_control.h"

#include <QTimer>

#include "settings/main_timers.h"
#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "links/serial_link.h"
#include "settings/settings.h"

namespace vt {
namespace {

// After the first failure the port is retried less often, for the rest of
// the run: a missing cradle should not keep the machine busy.
constexpr int kRetryIntervalMs = 2500;

void Start(QTimer* t) {
    if (t) t->start();
}

void Stop(QTimer* t) {
    if (t) t->stop();
}

}  // namespace

QString PortOpenFailedText(const QString& port) {
    const ComOpenFailure& f = ComLastOpenFailure();
    QString text;
    switch (f.error) {
        case serial::OpenError::NoPermission:
            text = FormatS(FormatS(QString::fromUtf8(txt::PortNoPermission), f.device),
                           serial::DeviceGroup(f.device));
            break;
        case serial::OpenError::Busy:
            text = FormatS(QString::fromUtf8(txt::PortBusy), port);
            break;
        default:
            text = FormatS(Text(msg::PortOpenFailed), port);
            break;
    }
    return QStringLiteral(" ") + text;
}

void OpenComport() {
    PortClosed = true;
    Start(progpar.device == 0 ? Timers.TimerOPLComopen : Timers.TimerOPNComopen);
}

void CloseComport() {
    Stop(Timers.TimerOPNComopen);
    Stop(Timers.TimerOPLComopen);
    ComClose(ComHandle);
}

void TimerOPLComopenTimer() {
    Stop(Timers.TimerOPLComopen);
    // A port still open here would be lost as a handle and, being exclusive,
    // would make this and every later attempt fail.
    ComClose(ComHandle);
    ComHandle = ComOpen(progpar.port, progpar.baud);
    if (ComHandle == -1) {
        if (Timers.TimerOPLComopen) Timers.TimerOPLComopen->setInterval(kRetryIntervalMs);
        display().status_bar(PortOpenFailedText(progpar.port));
        PortClosed = true;
        Stop(Timers.TimerOPL);
        Start(Timers.TimerOPLComopen);
    } else {
        display().status_bar(QStringLiteral(" ") + Text(msg::PortOpened));
        PortClosed = false;
        Start(Timers.TimerOPL);
    }
}

}  // namespace vt
