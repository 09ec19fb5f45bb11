// Whether a path lies inside a folder, by its text and by where its links lead, on one tree of
// files and links below a temporary folder.
#include "row_name.h"

#include "app/path_containment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

namespace {

using path_containment::Itself;
using path_containment::Missing;

// One path against one folder. Paths and folders are relative to the temporary folder (made
// absolute by the test) unless they begin with "/" or are empty. In the expected texts "@" stands
// for the temporary folder's path without its leading "/".
struct Row {
    const char* name;
    const char* path;
    const char* folder;
    const char* byText; // relativeByText, letter case kept
    const char* byTextAnyCase; // relativeByText with Qt::CaseInsensitive
    // realPathInside with Itself::Inside, relative to the real temporary folder ("" outside).
    const char* real;
    bool itselfOutside; // insideResolved with Itself::Outside
    bool nearestExisting; // insideResolved with Itself::Inside and Missing::NearestExisting
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The tree: a/b is the folder the rows ask about.
//   a/b/c.txt, a/b/sub/d.txt   files inside
//   a/bc/x                     a sibling with the folder's name as its prefix
//   out/secret                 outside
//   a/b/out -> out             a link inside that leads outside
//   a/in -> a/b                a link outside that leads inside
//   a/b/gone -> missing        a dangling link inside
void makeTree(const QString& root)
{
    QDir dir(root);
    for (const char* folder : {"a/b/sub", "a/bc", "out"})
        ASSERT_TRUE(dir.mkpath(QString::fromUtf8(folder)));
    for (const char* file : {"a/b/c.txt", "a/b/sub/d.txt", "a/bc/x", "out/secret"}) {
        QFile f(dir.filePath(QString::fromUtf8(file)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::link(dir.filePath("out"), dir.filePath("a/b/out")));
    ASSERT_TRUE(QFile::link(dir.filePath("a/b"), dir.filePath("a/in")));
    ASSERT_TRUE(QFile::link(dir.filePath("missing"), dir.filePath("a/b/gone")));
}

class PathContainment : public testing::TestWithParam<Row> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        makeTree(m_dir.path());
    }

    QString absolute(const char* path) const
    {
        const QString p = QString::fromUtf8(path);
        return p.isEmpty() || p.startsWith(QLatin1Char('/')) ? p : m_dir.path() + QLatin1Char('/') + p;
    }
    QString expectedText(const char* text) const
    {
        return QString::fromUtf8(text).replace(QLatin1Char('@'), m_dir.path().mid(1));
    }
    QString expectedReal(const char* relative) const
    {
        const QString r = QString::fromUtf8(relative);
        if (r.isEmpty())
            return r;
        return QFileInfo(m_dir.path()).canonicalFilePath() + (r == QLatin1String(".") ? QString() : QLatin1Char('/') + r);
    }

    QTemporaryDir m_dir;
};

TEST_P(PathContainment, ByTextAndByResolvedLinks)
{
    const Row& row = GetParam();
    const QString path = absolute(row.path);
    const QString folder = absolute(row.folder);

    EXPECT_EQ(path_containment::relativeByText(path, folder), expectedText(row.byText));
    EXPECT_EQ(path_containment::insideByText(path, folder), *row.byText != 0);
    EXPECT_EQ(path_containment::relativeByText(path, folder, Qt::CaseInsensitive),
              expectedText(row.byTextAnyCase).toLower());

    EXPECT_EQ(path_containment::realPathInside(path, folder, Itself::Inside), expectedReal(row.real));
    EXPECT_EQ(path_containment::insideResolved(path, folder, Itself::Inside), *row.real != 0);
    EXPECT_EQ(path_containment::insideResolved(path, folder, Itself::Outside), row.itselfOutside);
    EXPECT_EQ(path_containment::insideResolved(path, folder, Itself::Inside, Missing::NearestExisting),
              row.nearestExisting);
}

// clang-format off
const Row kRows[] = {
    // name                    path                    folder      byText            any case          real               strict nearest
    {"PlainChild",             "a/b/c.txt",            "a/b",      "c.txt",          "c.txt",          "a/b/c.txt",       true,  true},
    {"Grandchild",             "a/b/sub/d.txt",        "a/b",      "sub/d.txt",      "sub/d.txt",      "a/b/sub/d.txt",   true,  true},
    {"FolderItself",           "a/b",                  "a/b",      "",               "",               "a/b",             false, true},
    {"FolderItselfWithDot",    "a/b/.",                "a/b",      "",               "",               "a/b",             false, true},
    {"SiblingWithPrefixName",  "a/bc/x",               "a/b",      "",               "",               "",                false, false},
    {"SiblingFolder",          "a/bc",                 "a/b",      "",               "",               "",                false, false},
    {"ParentFolder",           "a",                    "a/b",      "",               "",               "",                false, false},
    {"DotDotLeaving",          "a/b/../bc/x",          "a/b",      "",               "",               "",                false, false},
    {"DotDotStaying",          "a/b/sub/../c.txt",     "a/b",      "c.txt",          "c.txt",          "a/b/c.txt",       true,  true},
    {"DotDotBackIn",           "a/bc/../b/c.txt",      "a/b",      "c.txt",          "c.txt",          "a/b/c.txt",       true,  true},
    {"DotParts",               "a/b/./sub/./d.txt",    "a/b",      "sub/d.txt",      "sub/d.txt",      "a/b/sub/d.txt",   true,  true},
    {"DoubledSeparators",      "a/b//sub//d.txt",      "a/b",      "sub/d.txt",      "sub/d.txt",      "a/b/sub/d.txt",   true,  true},
    {"TrailingSeparatorPath",  "a/b/sub/",             "a/b",      "sub",            "sub",            "a/b/sub",         true,  true},
    {"TrailingSeparatorFolder","a/b/c.txt",            "a/b/",     "c.txt",          "c.txt",          "a/b/c.txt",       true,  true},
    {"FolderItselfTrailing",   "a/b/",                 "a/b",      "",               "",               "a/b",             false, true},
    {"OtherLetterCase",        "A/B/c.txt",            "a/b",      "",               "c.txt",          "",                false, false},
    {"LinkPointingOut",        "a/b/out/secret",       "a/b",      "out/secret",     "out/secret",     "",                false, false},
    {"LinkPointingOutItself",  "a/b/out",              "a/b",      "out",            "out",            "",                false, false},
    {"LinkPointingIn",         "a/in/c.txt",           "a/b",      "",               "",               "a/b/c.txt",       true,  true},
    {"FolderThroughLink",      "a/b/c.txt",            "a/in",     "",               "",               "a/b/c.txt",       true,  true},
    {"MissingFile",            "a/b/missing.txt",      "a/b",      "missing.txt",    "missing.txt",    "",                false, true},
    {"MissingFolders",         "a/b/new/deeper/f",     "a/b",      "new/deeper/f",   "new/deeper/f",   "",                false, true},
    {"MissingBehindLinkOut",   "a/b/out/new/f",        "a/b",      "out/new/f",      "out/new/f",      "",                false, false},
    {"DanglingLink",           "a/b/gone",             "a/b",      "gone",           "gone",           "",                false, true},
    {"MissingFolder",          "a/b/c.txt",            "a/none",   "",               "",               "",                false, false},
    {"EmptyPath",              "",                     "a/b",      "",               "",               "",                false, false},
    {"EmptyFolder",            "a/b/c.txt",            "",         "",               "",               "",                false, false},
    {"FileSystemRoot",         "a/b/c.txt",            "/",        "@/a/b/c.txt",    "@/a/b/c.txt",    "a/b/c.txt",       true,  true},
    {"UnrelatedPath",          "/x/y",                 "a/b",      "",               "",               "",                false, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rows, PathContainment, testing::ValuesIn(kRows), test_support::RowName());

} // namespace
