#pragma once
// Starts tools/opl98xx-sim for a test, with its files in a fresh folder, and
// reads back its pseudo-terminal path and its exchange log. Qt Core only, so
// unit tests, end-to-end tests and benchmarks can all use it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <stdexcept>

namespace vt::test {

class OplSim {
public:
    // `binary`: the simulator's path, usually VT_BIN_DIR "/opl98xx-sim".
    explicit OplSim(QString binary) : binary_(std::move(binary)) {
        if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    }
    ~OplSim() { stop(); }
    OplSim(const OplSim&) = delete;
    OplSim& operator=(const OplSim&) = delete;

    // Writes the scanner's file for table entry `index` under its default
    // name (SHOP.TXT, SIMPLE.TXT, CSV.TXT, UGS.TXT), one payload per line.
    void set_file(int index, const QList<QByteArray>& lines) {
        static const char* const kNames[] = {"SHOP.TXT", "SIMPLE.TXT", "CSV.TXT", "UGS.TXT"};
        QFile f(dir_.filePath(QString::fromLatin1(kNames[index])));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("write");
        for (const QByteArray& l : lines) f.write(l + "\r\n");
    }

    // Starts the simulator with extra options; false when it printed no path.
    bool start(const QStringList& options = {}) {
        QStringList args{"--dir", dir_.path(), "--log", log_path()};
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

    bool running() { return process_.state() != QProcess::NotRunning; }
    bool wait_finished(int ms) {
        return process_.state() == QProcess::NotRunning || process_.waitForFinished(ms);
    }

    const QString& pty_path() const { return path_; }
    QString folder() const { return dir_.path(); }
    QString log_path() const { return dir_.filePath(QStringLiteral("sim.log")); }

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

    // Waits until the log holds a line starting with `prefix`.
    bool wait_for_log(const QString& prefix, int ms) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            for (const QString& l : log()) {
                if (l.startsWith(prefix)) return true;
            }
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
