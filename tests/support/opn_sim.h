#pragma once
// Starts tools/opn2001-sim for a test, with its barcodes in a fresh folder,
// and reads back its pseudo-terminal path and its exchange log. Qt Core
// only, so unit tests, end-to-end tests and benchmarks can all use it.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <stdexcept>

namespace vt::test {

struct SimBarcode {
    QByteArray code;
    int symbology = 1;
    QByteArray time = "2024-01-31 14:05:09";  // YYYY-MM-DD hh:mm:ss
};

class OpnSim {
public:
    // `binary`: the simulator's path, usually VT_BIN_DIR "/opn2001-sim".
    explicit OpnSim(QString binary) : binary_(std::move(binary)) {
        if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    }
    ~OpnSim() { stop(); }
    OpnSim(const OpnSim&) = delete;
    OpnSim& operator=(const OpnSim&) = delete;

    void set_barcodes(const QList<SimBarcode>& barcodes) {
        QFile f(barcodes_path());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("write");
        for (const SimBarcode& b : barcodes) {
            f.write(b.code + '\t' + QByteArray::number(b.symbology) + '\t' + b.time + '\n');
        }
    }

    // Starts the simulator with extra options, a fresh scanner with a fresh
    // log; false when it printed no path.
    bool start(const QStringList& options = {}) {
        QFile::remove(log_path());
        QStringList args{"--log", log_path()};
        if (QFile::exists(barcodes_path())) args << "--barcodes" << barcodes_path();
        args += options;
        process_.setProgram(binary_);
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(5000)) return false;
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(5000)) return false;
        }
        path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        return path_.startsWith(u"/dev/");
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

    const QString& pty_path() const { return path_; }
    QString folder() const { return dir_.path(); }
    QString log_path() const { return dir_.filePath(QStringLiteral("sim.log")); }
    QString barcodes_path() const { return dir_.filePath(QStringLiteral("barcodes.txt")); }

    // The log's lines without their time stamps.
    QStringList log() const {
        QFile f(log_path());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0) out << QString::fromLatin1(line.mid(space + 1));
        }
        return out;
    }

    // The log lines that start with `prefix`.
    QStringList log_lines(const QString& prefix) const {
        QStringList out;
        for (const QString& l : log()) {
            if (l.startsWith(prefix)) out << l;
        }
        return out;
    }

    // Waits until the log holds a line starting with `prefix`.
    bool wait_for_log(const QString& prefix, int ms) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            if (!log_lines(prefix).isEmpty()) return true;
            QThread::msleep(20);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

private:
    QString binary_;
    QTemporaryDir dir_;
    QProcess process_;
    QString path_;
};

}  // namespace vt::test
