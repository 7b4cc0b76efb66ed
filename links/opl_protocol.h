#pragma once
// The host side of the OPL-98xx scanner protocol: framed four-letter commands,
// single control bytes as answers, framed text lines that the host
// acknowledges one by one. All exchanges go through ComHandle.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace vt {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;

// A line longer than this without its ETX is taken as broken: a device that
// never ends its line must not grow the host's memory without end.
inline constexpr qsizetype kOplMaxFrame = 4096;

struct fileinforecord {
    QString filename;
    int32_t fsize = 0;
    int32_t count = 0;
    QString m2text;
};

// The scanner's four files, by table position: 0 brand shop, 1 "Simple
// System" shop, 2 CSV export, 3 UGS export. The main window sets entry 0's
// m2text to the brand's text at start-up.
extern std::array<fileinforecord, 4> OplFiles;

// 6 (ACK: the file table follows, read it with OplFileinfo at once),
// 21 (NAK) or -1 (no answer, another byte, or PortClosed).
int32_t OplPoll();

// One frame: true when well-formed (then acknowledged, and `line` holds its
// payload, empty for the end marker); false on a gap of about two seconds, a
// frame that does not start with STX, or one longer than kOplMaxFrame; the
// bytes received stay in `line`.
bool OplReadLine(QByteArray& line, bool log);

// Runs just before OplReadLine acknowledges an end marker, for as long as the
// object lives: what must be on disk, and in the form, before the scanner may
// let a file go. When it returns false the end marker is not acknowledged and
// OplReadLine returns false: the scanner keeps the file.
class OplBeforeEndAck {
  public:
    explicit OplBeforeEndAck(std::function<bool()> hook);
    ~OplBeforeEndAck();
    OplBeforeEndAck(const OplBeforeEndAck&) = delete;
    OplBeforeEndAck& operator=(const OplBeforeEndAck&) = delete;
};

// Reads the file table into OplFiles: 6 (some file has records), 21 (none)
// or -1 (the table was not read completely, or is unusable).
int32_t OplFileinfo();

// Asks for the file at table position `index` (0-3); true when the scanner
// answered ACK, its lines then follow up to the end marker.
bool OplRequestFile(int index);

// "HME0"; true when the scanner answered ACK.
bool OplSendEnd();

}  // namespace vt
