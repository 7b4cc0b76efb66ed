// Shortening a directory for a narrow field, with every character 10 wide.

#include "settings/path_shorten.h"

#include <gtest/gtest.h>

using namespace vt;

namespace {

int Width(const QString& text) {
    return int(text.size()) * 10;
}

QString Shorten(const QString& path, int chars) {
    return ShortenPath(path, chars * 10, Width);
}

TEST(ShortenPath, LeadingDirectoriesGoOneAtATimeUntilItFits) {
    const QString path = "/home/anna/export/csv/";
    EXPECT_EQ(Shorten(path, 30), path) << "fits";
    EXPECT_EQ(Shorten(path, int(path.size())), path) << "exactly as wide as the field";
    EXPECT_EQ(Shorten(path, 21), "/.../anna/export/csv/");
    EXPECT_EQ(Shorten(path, 16), "/.../export/csv/");
    EXPECT_EQ(Shorten(path, 12), "/.../csv/");
    // The last directory stays readable however narrow the field.
    EXPECT_EQ(Shorten(path, 3), "/.../csv/");
    EXPECT_EQ(Shorten("/home/anna/file", 3), "/.../file");
}

TEST(ShortenPath, NothingToDropMeansTheWholePath) {
    EXPECT_EQ(Shorten("/averyveryverylongdirectoryname/", 5), "/averyveryverylongdirectoryname/");
    EXPECT_EQ(Shorten("/", 0), "/");
    EXPECT_EQ(Shorten("", 0), "");
    EXPECT_EQ(Shorten("ab", 0), "ab");
}

TEST(ShortenPath, RelativePathsHaveNoRootToKeep) {
    EXPECT_EQ(Shorten("export/2024/csv/", 8), ".../csv/");
}

TEST(ShortenPath, SeparatorsFarIntoALongPathAreNotCutAt) {
    const QString path = "/" + QString(300, 'a') + "/tail/";
    EXPECT_EQ(Shorten(path, 10), path);
    const QString near = "/" + QString(250, 'a') + "/tail/";
    EXPECT_EQ(Shorten(near, 10), "/.../tail/");
}

}  // namespace
