// The download's progress in the status bar and the tray tooltip.

#include "links/transfer_progress.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include "settings/messages.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

TEST(TransferProgress, ShowsRisingCountsAtMostTenTimesASecondAndPutsBackTheBar) {
    test::RecordingDisplay display;
    display.bar = QStringLiteral(" Schnittstelle geöffnet");
    display.update_tray(true, QStringLiteral("VantorTrans : bereit."));
    display.tray_updates = 0;
    {
        TransferProgress progress(ReceivingFilePattern(QStringLiteral("%s.TXT")));
        progress.add();
        EXPECT_EQ(display.bar, " Empfange %s.TXT: 1 Zeilen");
        EXPECT_EQ(display.tray_tip, "Empfange %s.TXT: 1 Zeilen");
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 20000; ++i)
            progress.add();
        const int64_t ms = t.elapsed();
        EXPECT_LE(display.tray_updates, 1 + ms / TransferProgress::kIntervalMs + 1);
        QThread::msleep(TransferProgress::kIntervalMs + 10);
        progress.add();
        EXPECT_EQ(display.bar, " Empfange %s.TXT: 20002 Zeilen");
        EXPECT_EQ(progress.count(), 20002);
    }
    EXPECT_EQ(display.bar, " Schnittstelle geöffnet");
    EXPECT_EQ(display.tray_tip, "VantorTrans : bereit.");
    EXPECT_TRUE(display.tray_ready);
}

TEST(TransferProgress, ADownloadWithoutLinesLeavesEverythingAsItWas) {
    test::RecordingDisplay display;
    display.bar = QStringLiteral(" Schnittstelle geöffnet");
    { TransferProgress progress(QString::fromUtf8(txt::ReceivingBarcodes)); }
    EXPECT_EQ(display.bar, " Schnittstelle geöffnet");
    EXPECT_EQ(display.tray_updates, 0);
}

}  // namespace
}  // namespace vt
