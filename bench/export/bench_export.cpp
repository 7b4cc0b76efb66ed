// Converts generated working files of 10,000 and 1,000,000 lines in both CSV
// layouts and as UGS, and prints throughput and peak resident memory. Each
// conversion runs in a fresh child process so its peak memory is its own. For
// comparison the same fixed-column cut of the CSV is done with gawk's substr.
//
//   bench_export            run everything and print the table
//   bench_export --child KIND SOURCE OUTDIR   (internal) one conversion

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "delivery/convert.h"
#include "settings/settings.h"

namespace {

// Peak resident memory of this process in KiB.
long PeakRssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

int RunChild(const QString& kind, const QString& source, const QString& out_dir) {
    vt::progpar.csvdir = vt::progpar.ugsdir = out_dir + u'/';
    vt::progpar.csvpos = {2, 3, 4, 5, 0, 1};
    vt::progpar.csvseparator = 0;
    QElapsedTimer t;
    t.start();
    const vt::ExportResult r = kind == u"ugs"
                                   ? vt::ExportUgsFile(source, vt::progpar.ugsdir + "B.UGS")
                                   : vt::ExportCsvFile(source, vt::progpar.csvdir + "E.CSV");
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (r.code != 1 || r.skipped != 0) {
        std::fprintf(stderr, "export failed: code %d, skipped %lld\n", r.code,
                     static_cast<long long>(r.skipped));
        return 1;
    }
    QFile::remove(r.target);
    std::printf("%.6f %ld %lld\n", seconds, PeakRssKiB(), static_cast<long long>(r.written));
    return 0;
}

QByteArray Pad(const QByteArray& text, int width) {
    return text + QByteArray(std::max(0, width - int(text.size())), ' ');
}

// Lines of the three source kinds with varying article numbers and quantities.
QByteArray SourceLine(const QString& kind, long i) {
    const QByteArray art = "ART-" + QByteArray::number(i * 7919 % 1000003);
    const QByteArray qty = QByteArray::number(i % 250 + 1);
    if (kind == u"short") {
        return Pad("K" + QByteArray::number(i % 100), 4) + ';' + Pad("L1", 4) + ';' +
               Pad(art, 28) + ';' + Pad(qty, 6) + ";31.01.2024;14:05:09";
    }
    if (kind == u"long") {
        return Pad("KST-" + QByteArray::number(i % 1000), 12) + ' ' + Pad("LAGER-7", 12) + ' ' +
               Pad(art, 28) + ' ' + Pad(qty, 6) + " 31.01.2024 14:05:09";
    }
    return Pad(art, 28) + ' ' + Pad(qty, 6) + " 31.01.2024 14:05:09";
}

qint64 Generate(const QString& kind, long lines, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return -1;
    for (long i = 0; i < lines; ++i) f.write(SourceLine(kind, i) + "\r\n");
    return f.size();
}

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    long records = 0;
};

bool RunConversion(const QString& kind, const QString& source, const QString& out_dir, Run& run) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--child"), kind, source, out_dir});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s", p.readAllStandardError().constData());
        return false;
    }
    const QList<QByteArray> v = p.readAllStandardOutput().trimmed().split(' ');
    run.seconds = v.value(0).toDouble();
    run.peak_kib = v.value(1).toLong();
    run.records = v.value(2).toLong();
    return true;
}

// The same fixed-column cut with gawk; seconds, or a negative value on failure.
double RunGawk(const QString& kind, const QString& source, const QString& target) {
    const char* cut =
        kind == u"short"
            ? "{print substr($0,11,28),substr($0,40,6),substr($0,47,10),substr($0,58,8),"
              "substr($0,1,4),substr($0,6,4)}"
            : "{print substr($0,27,28),substr($0,56,6),substr($0,63,10),substr($0,74,8),"
              "substr($0,1,12),substr($0,14,12)}";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(target);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("gawk"), {QStringLiteral("-v"), QStringLiteral("RS=\r\n"),
                                      QStringLiteral("-v"), QStringLiteral("ORS=\r\n"),
                                      QStringLiteral("-v"), QStringLiteral("OFS=;"),
                                      QString::fromLatin1(cut), source});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return -1;
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    QFile::remove(target);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--child") return RunChild(args[2], args[3], args[4]);

    QTemporaryDir tmp;
    if (!tmp.isValid()) return 1;
    const QString out_dir = tmp.path() + "/out";
    QDir().mkpath(out_dir);
    constexpr int kRepeats = 3;  // best of three: the machine is shared

    std::printf("%-6s %9s %9s %10s %10s %12s %12s %10s\n", "kind", "lines", "MB", "seconds",
                "MB/s", "peak KiB", "gawk s", "gawk/ours");
    long peak[3][2] = {};
    const QString kinds[3] = {QStringLiteral("short"), QStringLiteral("long"),
                              QStringLiteral("ugs")};
    const long sizes[2] = {10'000, 1'000'000};
    for (int s = 0; s < 2; ++s) {
        for (int k = 0; k < 3; ++k) {
            const QString& kind = kinds[k];
            const QString source = tmp.path() + u'/' + kind + ".txt";
            const qint64 bytes = Generate(kind, sizes[s], source);
            if (bytes < 0) return 1;
            Run best{1e9, 0};
            for (int i = 0; i < kRepeats; ++i) {
                Run r;
                if (!RunConversion(kind, source, out_dir, r) || r.records != sizes[s]) {
                    std::fprintf(stderr, "%s: %ld of %ld records\n", qPrintable(kind), r.records,
                                 sizes[s]);
                    return 1;
                }
                best.seconds = std::min(best.seconds, r.seconds);
                best.peak_kib = std::max(best.peak_kib, r.peak_kib);
            }
            peak[k][s] = best.peak_kib;
            const double mb = double(bytes) / 1e6;
            std::printf("%-6s %9ld %9.1f %10.4f %10.1f %12ld", qPrintable(kind), sizes[s], mb,
                        best.seconds, mb / best.seconds, best.peak_kib);
            if (kind != u"ugs") {
                double gawk = 1e9;
                for (int i = 0; i < kRepeats; ++i) {
                    const double g = RunGawk(kind, source, out_dir + "/gawk.csv");
                    if (g < 0) return 1;
                    gawk = std::min(gawk, g);
                }
                std::printf(" %12.4f %10.2f", gawk, gawk / best.seconds);
            }
            std::printf("\n");
            QFile::remove(source);
        }
    }
    std::printf("\npeak memory growth from 10,000 to 1,000,000 lines (KiB):");
    bool flat = true;
    for (int k = 0; k < 3; ++k) {
        const long growth = peak[k][1] - peak[k][0];
        std::printf(" %s %ld", qPrintable(kinds[k]), growth);
        flat = flat && std::abs(growth) < 2048;
    }
    std::printf("\n%s\n", flat ? "memory independent of file size: yes (within 2 MiB)"
                               : "memory independent of file size: NO");
    return 0;
}
