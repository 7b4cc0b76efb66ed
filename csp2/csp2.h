#pragma once
// The OPN-2001 scanner library: the ten calls the program makes, with C
// linkage, 8-bit byte buffers and 32-bit signed results. Every failure is a
// negative result (the values of csp2::Result); no call writes beyond the
// size it is given, and no call waits longer than its time-outs.
//
// The library owns one serial port (9600 baud, 8 data bits, odd parity)
// from a successful csp2InitEx until the next csp2InitEx or the end of the
// process. Waits pump the program's event queue; a call made while another
// one waits for the scanner returns csp2::kBusy at once.

#include <cstdint>

extern "C" {

// Opens COMn (resolved as every port name of the program, [Ports] first)
// and interrogates the scanner. 0 when it answered; the port is then held.
// A port opened by an earlier call is closed first.
int32_t csp2InitEx(int32_t port_number);

// The library's version text, zero-terminated, into `buffer`; its length.
int32_t csp2GetDllVersion(char* buffer, int32_t size);

// 0 when the scanner answers and is fit for a transfer.
int32_t csp2Interrogate(void);

// Uploads the stored barcodes and returns their number (the protocol has no
// cheaper question). Keeps what csp2ReadData last read.
int32_t csp2DataAvailable(void);

// Uploads the stored barcodes and holds them for csp2GetPacket; their number.
int32_t csp2ReadData(void);

// Parameters 0x4F (ASCII mode) and 0x23 (time stamps with each scan): 0 or 1.
int32_t csp2GetASCIIMode(void);
int32_t csp2GetRTCMode(void);

// Barcode `index` of the last csp2ReadData as length byte, symbology, code
// and 4 stamp bytes; returns that length. Nothing is written when the
// packet does not fit into `size` bytes.
int32_t csp2GetPacket(uint8_t* buffer, int32_t index, int32_t size);

// The 4 stamp bytes as "hh:mm:ss AM mm/dd/yy" (12-hour clock), zero-
// terminated; 0 on success. Needs at least 21 bytes.
int32_t csp2TimeStamp2Str(const uint8_t* stamp, char* text, int32_t size);

// Erases every barcode stored in the scanner; 0 when the scanner confirmed.
int32_t csp2ClearData(void);

// Not one of the vendor's calls: 1 when the library's port is open but its
// device has gone (unplugged), so only a new csp2InitEx can reach it again.
int32_t csp2PortVanished(void);

}  // extern "C"
