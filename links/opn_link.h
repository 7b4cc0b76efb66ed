#pragma once
// The OPN-2001 link: opens the scanner library's port from the open timer,
// polls the scanner once a cycle, shows its state in the status list and the
// tray, and hands its barcodes to the selected shop's order form or to the
// barcode CSV. The scanner is cleared only after a complete delivery.
//
// The shop's order form is reached through the delivery seam, so the cycle
// runs in tests without a display.

#include <QString>
#include <cstdint>

#include "delivery/delivery_channel.h"
#include "settings/opn_state.h"

namespace vt {

// Handler of TimerOPNComopen: one open attempt, shown in the status bar.
void TimerOPNComopenTimer();
// Handler of TimerOPN with the delivery channel of the settings (defined
// beside the desktop delivery); OpnCycle is its work.
void TimerOPNTimer();
void OpnCycle(DeliveryChannel& shop);

// COM1 -> 1, COM12 -> 12, COM123 -> 12, COM -> 0: the 4th and 5th characters.
int32_t OpnPortNumber(const QString& port);
int32_t OpnInitLink();
// Fills opn.dllversion from the library; returns 1.
int32_t OpnReadVersion();
// 6 barcodes waiting, 21 none, -1 no scanner or the link is closed.
int32_t OpnPoll();
// 1 transferred, 0 nothing to transfer, -1 failed (the scanner keeps all).
int32_t OpnReadToShop(DeliveryChannel& shop);
int32_t OpnReadToCsv();
// "K1;4711;5" -> "4711\t5"; any code that does not split into three stays.
void OpnSplitCode(QString& code);
// The 4 stamp bytes as "dd.mm.yyyy" and "hh:nn:ss"; 01.01.2000 00:00:00 when
// the library cannot read them.
void OpnDecodeStamp(const uint8_t* stamp, QString& date, QString& time);
// The same from the library's stamp text ("hh:mm:ss AM mm/dd/yy"), of
// which the first 22 bytes are read.
void OpnStampTextToDateTime(const char* text, QString& date, QString& time);

}  // namespace vt
