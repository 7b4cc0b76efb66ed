#pragma once
// The fixture of the tests that run Windows programs under Wine on the test
// desktop: a Wine prefix of the test's own, and a screenshot of the desktop
// when the test failed.

#include <gtest/gtest.h>

#include "tests/support/e2e_desktop.h"
#include "tests/support/real_program.h"
#include "tests/support/wine.h"

namespace vt::test {

// Before main: the test program's QApplication needs the display.
inline const bool kWineDesktop = EnsureTestDesktop();

class WinePrefixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kWineDesktop);
        QString why;
        ASSERT_TRUE(prefix_.init(&why)) << why.toStdString();
    }
    void TearDown() override {
        if (!HasFailure())
            return;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // A parameterised test's names hold slashes.
        RealProgram::screenshot(QStringLiteral("wine-%1-%2")
                                    .arg(QString::fromUtf8(test->test_suite_name()),
                                         QString::fromUtf8(test->name()))
                                    .replace(u'/', u'_'));
    }

    WinePrefix prefix_;
};

}  // namespace vt::test
