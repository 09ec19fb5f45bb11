// Replacing a set of files: all of them change, or, when a rename fails part way, every target is
// as it was and nothing new is left beside them.
#include "row_name.h"
#include "test_files.h"

#include "update/replace_files.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct RenameFailure {
    const char* name;
    const char* failingTarget; // the rename of its new file fails
    const char* failedPath;
};

void PrintTo(const RenameFailure& c, std::ostream* os) { *os << c.name; }

class ReplaceFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(test_support::writeFile(path("a.xml"), "old a"));
        ASSERT_TRUE(test_support::writeFile(path("c.xml"), "old c"));
    }
    void TearDown() override { setRenameFaultHook(nullptr); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QStringList names() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }
    QList<FileReplacement> replacements() const
    {
        return {{path("a.xml"), "new a"}, {path("b.xml"), "new b"}, {path("c.xml"), "new c"}};
    }

    QTemporaryDir dir;
};

class RenameFailures : public ReplaceFiles, public ::testing::WithParamInterface<RenameFailure> {};

TEST_P(RenameFailures, AFailedRenamePutsBackEveryTargetAndLeavesNothingNew)
{
    const RenameFailure& c = GetParam();
    const QString failing = path(c.failingTarget);
    int refused = 0;
    setRenameFaultHook([&](const QString& from, const QString& to) {
        // Only the rename of the new file, not the putting back of the old one.
        if (to != failing || from.endsWith(".old"))
            return true;
        ++refused;
        return false;
    });
    QString failedPath;
    EXPECT_EQ(replaceFiles(replacements(), &failedPath), ReplaceResult::OpenFailed);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(failedPath, path(c.failedPath));
    EXPECT_EQ(test_support::readFile(path("a.xml")), QByteArray("old a"));
    EXPECT_EQ(test_support::readFile(path("c.xml")), QByteArray("old c"));
    EXPECT_EQ(names(), (QStringList{"a.xml", "c.xml"}));
}

INSTANTIATE_TEST_SUITE_P(Renames, RenameFailures,
                         ::testing::Values(RenameFailure{"FirstReplacingAFile", "a.xml", "a.xml"},
                                           RenameFailure{"SecondMakingANewFile", "b.xml", "b.xml"},
                                           RenameFailure{"LastAfterTwoInPlace", "c.xml", "c.xml"}),
                         test_support::RowName());

TEST_F(ReplaceFiles, WithoutAFaultEveryFileChangesAndNothingElseStays)
{
    QString failedPath = "x";
    EXPECT_EQ(replaceFiles(replacements(), &failedPath), ReplaceResult::Done);
    EXPECT_TRUE(failedPath.isEmpty());
    EXPECT_EQ(test_support::readFile(path("a.xml")), QByteArray("new a"));
    EXPECT_EQ(test_support::readFile(path("b.xml")), QByteArray("new b"));
    EXPECT_EQ(test_support::readFile(path("c.xml")), QByteArray("new c"));
    EXPECT_EQ(names(), (QStringList{"a.xml", "b.xml", "c.xml"}));
}

} // namespace
