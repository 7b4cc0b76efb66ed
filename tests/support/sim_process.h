#pragma once
// A scanner simulator from tools/ run for a test: started with its options,
// its pseudo-terminal path read from its first output line, its exchange log
// read back without time stamps. Qt Core only, so unit tests, end-to-end
// tests and benchmarks can all use it. Under Wine the simulator runs on Linux,
// started by tests/wine/com_bridge.py, and its path is the COM port Wine
// gives its terminal.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <stdexcept>

#ifdef _WIN32
#include <memory>

#include "tests/support/com_bridge.h"
#endif

namespace vt::test {

class SimProcess {
  public:
    // `binary`: the simulator's path, such as VT_BIN_DIR "/opl98xx-sim".
    explicit SimProcess(QString binary) : binary_(std::move(binary)) {
        if (!dir_.isValid())
            throw std::runtime_error("no temporary folder");
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

#ifdef _WIN32
    void stop() {
        if (!running())
            return;
        // The bridge ends it as QProcess would: politely first.
        link_->send("STOP\n");
        wait_finished(7000);
        link_.reset();
    }

    bool running() { return link_ && !wait_finished(0); }
    bool wait_finished(int ms) {
        if (!link_ || exited_)
            return true;
        exited_ = link_->read_line(ms).startsWith("EXIT") || !link_->open();
        return exited_;
    }
#else
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
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
#endif

    const QString& pty_path() const { return path_; }
    QString folder() const { return dir_.path(); }
    QString log_path() const { return dir_.filePath(QStringLiteral("sim.log")); }

    // The log's lines without their time stamps.
    QStringList log() const {
        QFile f(log_path());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                out << QString::fromLatin1(line.mid(space + 1));
        }
        return out;
    }

    // The log lines that start with `prefix`.
    QStringList log_lines(const QString& prefix) const {
        QStringList out;
        for (const QString& l : log()) {
            if (l.startsWith(prefix))
                out << l;
        }
        return out;
    }

    // How many log lines start with `prefix`.
    int count(const QString& prefix) const { return int(log_lines(prefix).size()); }

    // Waits until the log holds a line starting with `prefix`.
    bool wait_for_log(const QString& prefix, int ms) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            if (!log_lines(prefix).isEmpty())
                return true;
            QThread::msleep(20);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

  protected:
    // Starts the simulator with `args` and "--log"; false when it printed no path.
    bool launch(QStringList args) {
        args << "--log" << log_path();
#ifdef _WIN32
        link_ = std::make_unique<BridgeLink>("SIM " + (QStringList{binary_} + args).join(u'\t').toUtf8());
        exited_ = false;
        const QByteArray name = link_->read_line(10000);
        if (!name.startsWith("COM"))
            return false;
        path_ = QStringLiteral("\\\\.\\") + QString::fromLatin1(name);
        return true;
#else
        process_.setProgram(binary_);
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(5000))
                return false;
        }
        path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        return path_.startsWith(u"/dev/");
#endif
    }

    QTemporaryDir dir_;

  private:
    QString binary_;
#ifdef _WIN32
    std::unique_ptr<BridgeLink> link_;
    bool exited_ = false;
#else
    QProcess process_;
#endif
    QString path_;
};

}  // namespace vt::test
