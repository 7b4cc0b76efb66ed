#pragma once
// Starts tools/opn2001-sim for a test with its barcodes in a fresh folder.

#include <QByteArray>
#include <QFile>

#include "tests/support/sim_process.h"

namespace vt::test {

struct SimBarcode {
    QByteArray code;
    int symbology = 1;
    QByteArray time = "2024-01-31 14:05:09";  // YYYY-MM-DD hh:mm:ss
};

class OpnSim : public SimProcess {
  public:
    using SimProcess::SimProcess;

    void set_barcodes(const QList<SimBarcode>& barcodes) {
        QFile f(barcodes_path());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw std::runtime_error("write");
        for (const SimBarcode& b : barcodes) {
            f.write(b.code + '\t' + QByteArray::number(b.symbology) + '\t' + b.time + '\n');
        }
    }

    // Starts a fresh scanner with a fresh log and extra options; false when
    // it printed no path.
    bool start(const QStringList& options = {}) {
        QFile::remove(log_path());
        QStringList args;
        if (QFile::exists(barcodes_path()))
            args << "--barcodes" << barcodes_path();
        return launch(args + options);
    }

    QString barcodes_path() const { return dir_.filePath(QStringLiteral("barcodes.txt")); }
};

}  // namespace vt::test
