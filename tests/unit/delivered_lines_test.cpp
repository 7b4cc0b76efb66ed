// The memory of what a form already holds of a file whose delivery failed
// part-way: the same file into the same window types only the rest, any
// other window or file gets every line, and nothing that did not reach the
// form is ever skipped.

#include "delivery/delivered_lines.h"

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

constexpr uint64_t kForm = 0x600001;
constexpr uint64_t kOtherForm = 0x700001;

// A form that takes lines until `fail_at` of them arrived.
struct Form {
    QStringList typed;
    qsizetype fail_at = -1;
    DeliveredLines::Deliver deliver() {
        return [this](const QString& line) {
            if (typed.size() == fail_at)
                return false;
            typed << line;
            return true;
        };
    }
};

class DeliveredLinesTest : public ::testing::Test {
  protected:
    void SetUp() override { progpar.keysendmode = 0; }
    void TearDown() override { progpar.keysendmode = 0; }

    // One delivery of `file` into `window`; true when it completed.
    bool Deliver(const QStringList& file, uint64_t window, Form& form, int shop = 0) {
        memory.begin(shop, window);
        bool ok = true;
        for (const QString& line : file) {
            if (!memory.pass(line, window, form.deliver())) {
                ok = false;
                break;
            }
        }
        ok = ok && memory.end_of_file(form.deliver());
        memory.finish(ok);
        return ok;
    }

    DeliveredLines memory;
    test::RecordingDisplay display;
    const QStringList file{"A\t1", "B\t2", "C\t3", "D\t4", "E\t5"};
};

TEST_F(DeliveredLinesTest, SameFileIntoTheSameFormTypesOnlyTheRest) {
    Form form;
    form.fail_at = 2;
    EXPECT_FALSE(Deliver(file, kForm, form));
    EXPECT_EQ(memory.kept(), (QStringList{"A\t1", "B\t2"}));

    // The next try fails again, one line further: what reached the form
    // grows, and the skipped lines are still in it.
    form.fail_at = 3;
    EXPECT_FALSE(Deliver(file, kForm, form));
    EXPECT_EQ(form.typed, (QStringList{"A\t1", "B\t2", "C\t3"}));
    EXPECT_EQ(memory.kept(), (QStringList{"A\t1", "B\t2", "C\t3"}));

    form.fail_at = -1;
    EXPECT_TRUE(Deliver(file, kForm, form));
    EXPECT_EQ(form.typed, file) << "every line exactly once";
    EXPECT_TRUE(memory.kept().isEmpty()) << "a complete file leaves nothing to skip";
    EXPECT_EQ(display.log, (QStringList{QString::fromUtf8("2 Zeilen bereits übertragen, übersprungen"),
                                        QString::fromUtf8("3 Zeilen bereits übertragen, übersprungen")}));

    // Delivered whole, the same lines again are a new order and go again.
    EXPECT_TRUE(Deliver(file, kForm, form));
    EXPECT_EQ(form.typed, file + file);
}

TEST_F(DeliveredLinesTest, AnotherWindowOrShopGetsTheWholeFile) {
    Form first;
    first.fail_at = 3;
    EXPECT_FALSE(Deliver(file, kForm, first));
    Form other;
    EXPECT_TRUE(Deliver(file, kOtherForm, other));
    EXPECT_EQ(other.typed, file);

    // The memory of the first form is gone with the other window's file:
    // coming back to it, everything goes again rather than skip on a guess.
    Form again;
    again.fail_at = 2;
    EXPECT_FALSE(Deliver(file, kForm, again));
    EXPECT_EQ(again.typed, file.mid(0, 2));
    Form simple;
    EXPECT_TRUE(Deliver(file, kForm, simple, 1)) << "the other shop's file";
    EXPECT_EQ(simple.typed, file);
    EXPECT_TRUE(display.log.isEmpty());
}

TEST_F(DeliveredLinesTest, ADifferentFileTypesTheLinesItHeldBack) {
    // Fails after three lines, then the next try brings `next` instead.
    auto after_failure = [&](const QStringList& next) {
        Form failed;
        failed.fail_at = 3;
        EXPECT_FALSE(Deliver(file, kForm, failed));
        Form form;
        EXPECT_TRUE(Deliver(next, kForm, form));
        return form.typed;
    };
    // Starts like the file typed before, then differs.
    const QStringList changed{"A\t1", "B\t2", "X\t9", "D\t4"};
    EXPECT_EQ(after_failure(changed), changed);
    // Ends before all lines typed before came again.
    EXPECT_EQ(after_failure({"A\t1", "B\t2"}), (QStringList{"A\t1", "B\t2"}));
    EXPECT_TRUE(display.log.isEmpty());
    // Lines scanned after the failure follow the ones that are skipped.
    EXPECT_EQ(after_failure(file + QStringList{"F\t6"}), (QStringList{"D\t4", "E\t5", "F\t6"}));
    EXPECT_EQ(display.log,
              QStringList{QString::fromUtf8("3 Zeilen bereits übertragen, übersprungen")});
}

TEST_F(DeliveredLinesTest, AFailureWhileHoldingBackForgetsNothing) {
    Form form;
    form.fail_at = 3;
    EXPECT_FALSE(Deliver(file, kForm, form));
    // The scanner's link breaks after two lines of the next try: nothing
    // new reached the form, and all three lines are still to be skipped.
    memory.begin(0, kForm);
    EXPECT_TRUE(memory.pass(file[0], kForm, form.deliver()));
    EXPECT_TRUE(memory.pass(file[1], kForm, form.deliver()));
    memory.finish(false);
    EXPECT_EQ(memory.kept(), file.mid(0, 3));
    form.fail_at = -1;
    EXPECT_TRUE(Deliver(file, kForm, form));
    EXPECT_EQ(form.typed, file);
}

// One line missing at the end (its paste never fetched) or several (lines
// sent ahead of their answers): exactly those are typed again.
TEST_F(DeliveredLinesTest, TheLinesThatDidNotArriveAreTypedAgainAndOnlyThose) {
    Form form;
    const auto try_typing = [&](qsizetype lines, int not_arrived) {
        memory.begin(0, kForm);
        for (const QString& line : file.mid(0, lines))
            EXPECT_TRUE(memory.pass(line, kForm, form.deliver()));
        memory.finish(false, not_arrived);
    };
    try_typing(3, 1);
    EXPECT_EQ(memory.kept(), file.mid(0, 2));
    // A try that typed nothing has no last line of its own to drop.
    try_typing(1, 1);
    EXPECT_EQ(memory.kept(), file.mid(0, 2));
    Form again;
    EXPECT_TRUE(Deliver(file, kForm, again));
    EXPECT_EQ(again.typed, file.mid(2));

    try_typing(3, 2);
    EXPECT_EQ(memory.kept(), file.mid(0, 1));
    // More than this try typed: the lines of the earlier try stay.
    try_typing(2, 5);
    EXPECT_EQ(memory.kept(), file.mid(0, 1));
}

TEST_F(DeliveredLinesTest, AWindowChangeWithinTheFileLeavesNothingToSkip) {
    Form form;
    memory.begin(0, kForm);
    EXPECT_TRUE(memory.pass(file[0], kForm, form.deliver()));
    EXPECT_TRUE(memory.pass(file[1], kOtherForm, form.deliver()));
    form.fail_at = 2;
    EXPECT_FALSE(memory.pass(file[2], kOtherForm, form.deliver()));
    memory.finish(false);
    EXPECT_TRUE(memory.kept().isEmpty()) << "neither form holds a start of the file";
}

TEST_F(DeliveredLinesTest, BatchModesPasteOnceAndRememberNothing) {
    for (int mode : {1, 2}) {
        progpar.keysendmode = mode;
        Form form;
        form.fail_at = 2;
        EXPECT_FALSE(Deliver(file, kForm, form));
        EXPECT_TRUE(memory.kept().isEmpty());
        form.fail_at = -1;
        EXPECT_TRUE(Deliver(file, kForm, form));
        EXPECT_EQ(form.typed.mid(2), file) << "mode " << mode;
    }
    // Lines kept in mode 0 are not skipped by a batch either.
    progpar.keysendmode = 0;
    Form form;
    form.fail_at = 2;
    EXPECT_FALSE(Deliver(file, kForm, form));
    progpar.keysendmode = 1;
    form.fail_at = -1;
    form.typed.clear();
    EXPECT_TRUE(Deliver(file, kForm, form));
    EXPECT_EQ(form.typed, file);
}

}  // namespace
}  // namespace vt
