#pragma once
// Starts tools/opl98xx-sim for a test, with its files in a fresh folder.

#include <QByteArray>
#include <QFile>

#include "tests/support/sim_process.h"

namespace vt::test {

class OplSim : public SimProcess {
  public:
    using SimProcess::SimProcess;

    // Writes the scanner's file for table entry `index` under its default
    // name (SHOP.TXT, SIMPLE.TXT, CSV.TXT, UGS.TXT), one payload per line.
    void set_file(int index, const QList<QByteArray>& lines) {
        static const char* const kNames[] = {"SHOP.TXT", "SIMPLE.TXT", "CSV.TXT", "UGS.TXT"};
        QFile f(dir_.filePath(QString::fromLatin1(kNames[index])));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw std::runtime_error("write");
        for (const QByteArray& l : lines)
            f.write(l + "\r\n");
    }

    // Starts the simulator with extra options; false when it printed no path.
    bool start(const QStringList& options = {}) {
        return launch(QStringList{"--dir", dir_.path()} + options);
    }
};

}  // namespace vt::test
