#pragma once
// The OPN-2001 link's state. The OPN-2001 link fills it; the settings dialog
// shows the library version from it.

#include <QString>
#include <cstdint>

namespace vt {

struct opnstruct {
    QString dllversion;  // empty until the library has reported its version once
    QString snr;
    bool asciimode = false;
    bool rtcmode = false;
    int32_t statepoll = 0;
};

extern opnstruct opn;

}  // namespace vt
