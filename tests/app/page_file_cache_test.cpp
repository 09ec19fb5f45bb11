// The page-file cache on a folder of XML files: reads once, changes in memory, writes back.
#include "row_name.h"
#include "test_files.h"

#include "app/page_file_cache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using test_support::readFile;
using test_support::writeFile;

const char kSettings[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!-- mouse -->\n"
                         "<Configuration><Conf><Key Index=\"1\" Value=\"a\"/><Key Index=\"2\" Value=\"b\"/></Conf>"
                         "</Configuration>\n";

class PageFileCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
    PageFileCache cache;
};

struct Query {
    const char* name;
    const char* xpath;
    const char* text;
};

void PrintTo(const Query& row, std::ostream* os) { *os << row.name; }

class PageFileQuery : public PageFileCacheTest, public ::testing::WithParamInterface<Query> {};

TEST_P(PageFileQuery, PrintsTheSelectedNodesIndentedWithTabs)
{
    const Query& c = GetParam();
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    QString text = "sentinel";
    EXPECT_EQ(cache.query(path("s.xml"), c.xpath, &text), PageFileCache::Result::Ok) << c.xpath;
    EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.xpath;
}

INSTANTIATE_TEST_SUITE_P(PageFileCacheTest, PageFileQuery,
    ::testing::Values(Query{"OneNode", "/Configuration/Conf/Key[@Index=2]", "<Key Index=\"2\" Value=\"b\" />\n"},
        Query{"NodeWithChildren", "/Configuration/Conf",
              "<Conf>\n\t<Key Index=\"1\" Value=\"a\" />\n\t<Key Index=\"2\" Value=\"b\" />\n</Conf>\n"},
        Query{"TwoNodes", "//Key", "<Key Index=\"1\" Value=\"a\" />\n<Key Index=\"2\" Value=\"b\" />\n"},
        Query{"NoNode", "/Configuration/Nothing", ""},
        // An attribute is no node of its own: it prints nothing.
        Query{"AnAttribute", "//Key/@Value", ""}),
    test_support::RowName());

TEST_F(PageFileCacheTest, AFileIsReadOnceAndNeverAgain)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    cache.cacheFile(path("s.xml"));
    ASSERT_TRUE(writeFile(path("s.xml"), "<Configuration><Conf><Key Index=\"2\" Value=\"disk\"/></Conf></Configuration>"));
    QString text;
    ASSERT_EQ(cache.query(path("s.xml"), "//Key[@Index=2]/..", &text), PageFileCache::Result::Ok);
    EXPECT_TRUE(text.contains("Value=\"b\"")) << text.toStdString();
    EXPECT_EQ(cache.cachedFiles().value(path("s.xml")), QString::fromUtf8(kSettings));
    // Two texts for one file are two entries.
    cache.cacheFile(path("./s.xml"));
    EXPECT_EQ(cache.cachedFiles().size(), 2);
    EXPECT_TRUE(cache.cachedFiles().value(path("./s.xml")).contains("disk"));
}

// "empty.xml" (empty), "broken.xml" (malformed) and "folder" lie in the folder; "missing.xml" does not.
struct Unreadable {
    const char* name;
    const char* file;
    bool cached;
};

void PrintTo(const Unreadable& row, std::ostream* os) { *os << row.name; }

class UnreadablePageFile : public PageFileCacheTest, public ::testing::WithParamInterface<Unreadable> {
protected:
    void SetUp() override
    {
        PageFileCacheTest::SetUp();
        ASSERT_TRUE(writeFile(path("empty.xml"), ""));
        ASSERT_TRUE(writeFile(path("broken.xml"), "<a><b></a>"));
        ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    }
};

TEST_P(UnreadablePageFile, IsAFailureAndStaysUncached)
{
    const Unreadable& c = GetParam();
    QString text = "sentinel";
    EXPECT_EQ(cache.query(path(c.file), "/a", &text), PageFileCache::Result::NotXml);
    EXPECT_EQ(text, "sentinel");
    EXPECT_EQ(cache.cachedFiles().contains(path(c.file)), c.cached);
}

INSTANTIATE_TEST_SUITE_P(PageFileCacheTest, UnreadablePageFile,
    ::testing::Values(Unreadable{"Missing", "missing.xml", false}, Unreadable{"AFolder", "folder", false},
        Unreadable{"Empty", "empty.xml", true}, Unreadable{"Malformed", "broken.xml", true}),
    test_support::RowName());

// A file that appears later is read then.
TEST_F(PageFileCacheTest, AFileMissingAtFirstIsReadOnceItAppears)
{
    QString text = "sentinel";
    EXPECT_EQ(cache.query(path("missing.xml"), "/a", &text), PageFileCache::Result::NotXml);
    ASSERT_TRUE(writeFile(path("missing.xml"), "<a/>"));
    EXPECT_EQ(cache.query(path("missing.xml"), "/a", &text), PageFileCache::Result::Ok);
    EXPECT_EQ(text, "<a />\n");
}

TEST_F(PageFileCacheTest, AnExpressionThatDoesNotCompileIsAFailure)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    for (const char* xpath : {"//Key[", "", "/Configuration/@@", "count(//Key"}) {
        QString text = "sentinel";
        EXPECT_EQ(cache.query(path("s.xml"), xpath, &text), PageFileCache::Result::BadXPath) << xpath;
        EXPECT_EQ(text, "sentinel");
    }
}

TEST_F(PageFileCacheTest, ModifyStoresTheLibrarysSerialisationAndReadsSeeItBeforeTheWriteBack)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    ASSERT_EQ(cache.modify(path("s.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- c --><?pi x?>"
                                          "<Configuration z=\"1\" a=\"2\"><Conf><Key Index=\"2\" Value=\"new\"/></Conf>"
                                          "</Configuration>"),
              PageFileCache::Result::Ok);
    // The declaration, comment and instruction of the text are gone; the attribute order stays.
    const QString stored = "<?xml version=\"1.0\"?>\n<Configuration z=\"1\" a=\"2\">\n\t<Conf>\n"
                           "\t\t<Key Index=\"2\" Value=\"new\" />\n\t</Conf>\n</Configuration>\n";
    EXPECT_EQ(cache.cachedFiles().value(path("s.xml")), stored);
    QString text;
    ASSERT_EQ(cache.query(path("s.xml"), "//Key", &text), PageFileCache::Result::Ok);
    EXPECT_EQ(text, "<Key Index=\"2\" Value=\"new\" />\n");
    // The file on disk changes only at the write-back.
    EXPECT_EQ(readFile(path("s.xml")), QByteArray(kSettings));
    EXPECT_EQ(cache.dirtyFiles(), QStringList{path("s.xml")});
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_EQ(readFile(path("s.xml")), stored.toUtf8());
    EXPECT_TRUE(cache.dirtyFiles().isEmpty());
}

TEST_F(PageFileCacheTest, ModifyCreatesAMissingFileAtOnce)
{
    ASSERT_EQ(cache.modify(path("new.xml"), "<a><b>\xE4\xB8\xAD</b></a>"), PageFileCache::Result::Ok);
    const QByteArray written = readFile(path("new.xml"));
    EXPECT_EQ(written, QByteArray("<?xml version=\"1.0\"?>\n<a>\n\t<b>\xE4\xB8\xAD</b>\n</a>\n"));
    // UTF-8 without a byte-order mark.
    EXPECT_FALSE(written.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(cache.dirtyFiles(), QStringList{path("new.xml")});
}

TEST_F(PageFileCacheTest, TwoChangesOfOneFileAreOneDirtyEntryWithTheLaterText)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    ASSERT_TRUE(writeFile(path("t.xml"), kSettings));
    ASSERT_EQ(cache.modify(path("s.xml"), "<first/>"), PageFileCache::Result::Ok);
    ASSERT_EQ(cache.modify(path("t.xml"), "<other/>"), PageFileCache::Result::Ok);
    ASSERT_EQ(cache.modify(path("s.xml"), "<second/>"), PageFileCache::Result::Ok);
    EXPECT_EQ(cache.dirtyFiles(), (QStringList{path("s.xml"), path("t.xml")}));
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_EQ(readFile(path("s.xml")), QByteArray("<?xml version=\"1.0\"?>\n<second />\n"));
    EXPECT_EQ(readFile(path("t.xml")), QByteArray("<?xml version=\"1.0\"?>\n<other />\n"));
}

TEST_F(PageFileCacheTest, WriteBackWithNothingChangedOrNothingCached)
{
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::NothingCached);
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    cache.cacheFile(path("s.xml"));
    ASSERT_TRUE(writeFile(path("s.xml"), "changed on disk"));
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_EQ(readFile(path("s.xml")), QByteArray("changed on disk"));
}

TEST_F(PageFileCacheTest, ContentThatIsNoXmlDocumentChangesNothing)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    cache.cacheFile(path("s.xml"));
    for (const char* content : {"", "<a><b></a>", "plain text", "<a>"}) {
        EXPECT_EQ(cache.modify(path("s.xml"), content), PageFileCache::Result::NotXml) << content;
        EXPECT_EQ(cache.modify(path("absent.xml"), content), PageFileCache::Result::NotXml) << content;
    }
    EXPECT_EQ(cache.cachedFiles().value(path("s.xml")), QString::fromUtf8(kSettings));
    EXPECT_FALSE(cache.cachedFiles().contains(path("absent.xml")));
    EXPECT_FALSE(QFile::exists(path("absent.xml")));
    EXPECT_TRUE(cache.dirtyFiles().isEmpty());
    EXPECT_EQ(readFile(path("s.xml")), QByteArray(kSettings));
}

TEST_F(PageFileCacheTest, AFolderIsNoFileToChange)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    for (const QString& p : {path("folder"), path("folder/"), dir.path() + "/", QString()}) {
        EXPECT_EQ(cache.modify(p, "<a/>"), PageFileCache::Result::NotAFile) << p.toStdString();
    }
    EXPECT_TRUE(cache.cachedFiles().isEmpty());
    EXPECT_TRUE(cache.dirtyFiles().isEmpty());
}

// Only XML files by name: a library or any other file beside the pages' files is neither read
// nor replaced, even with XML content, and the write-back never touches it.
TEST_F(PageFileCacheTest, OnlyFilesNamedXmlAreReadOrChanged)
{
    const QByteArray library("\x7f" "ELF binary");
    for (const char* name : {"libvq.dll", "conf.xml.bak", "xml", "settings.xml.", "notes.txt"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(writeFile(path(name), library));
        QString text = "sentinel";
        EXPECT_EQ(cache.query(path(name), "/a", &text), PageFileCache::Result::NotXml);
        EXPECT_EQ(cache.modify(path(name), "<a/>"), PageFileCache::Result::NotXmlFile);
        EXPECT_EQ(cache.modify(path(QString(name) + "-new"), "<a/>"), PageFileCache::Result::NotXmlFile);
        EXPECT_EQ(cache.flush(), PageFileCache::Flush::NothingCached);
        EXPECT_EQ(readFile(path(name)), library);
        EXPECT_FALSE(QFile::exists(path(QString(name) + "-new")));
    }
    EXPECT_TRUE(cache.cachedFiles().isEmpty());
    // The letter case of the extension does not matter.
    ASSERT_TRUE(writeFile(path("Upper.XML"), "<a/>"));
    EXPECT_EQ(cache.modify(path("Upper.XML"), "<b/>"), PageFileCache::Result::Ok);
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_TRUE(readFile(path("Upper.XML")).contains("<b />"));
}

TEST_F(PageFileCacheTest, AFileThatCannotBeWrittenBlocksNoOther)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("gone"));
    ASSERT_EQ(cache.modify(path("gone/a.xml"), "<a/>"), PageFileCache::Result::Ok);
    ASSERT_TRUE(writeFile(path("b.xml"), "<b/>"));
    ASSERT_EQ(cache.modify(path("b.xml"), "<b changed=\"1\"/>"), PageFileCache::Result::Ok);
    ASSERT_TRUE(QDir(path("gone")).removeRecursively());

    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Failed);
    EXPECT_EQ(readFile(path("b.xml")), QByteArray("<?xml version=\"1.0\"?>\n<b changed=\"1\" />\n"));
    // Only the file that failed stays changed, and it is tried again at the next write-back.
    EXPECT_EQ(cache.dirtyFiles(), QStringList{path("gone/a.xml")});
    ASSERT_TRUE(QDir(dir.path()).mkdir("gone"));
    EXPECT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_EQ(readFile(path("gone/a.xml")), QByteArray("<?xml version=\"1.0\"?>\n<a />\n"));
    EXPECT_TRUE(cache.dirtyFiles().isEmpty());
}

TEST_F(PageFileCacheTest, TheWriteBackReplacesTheFileWhole)
{
    ASSERT_TRUE(writeFile(path("s.xml"), kSettings));
    ASSERT_EQ(cache.modify(path("s.xml"), "<a/>"), PageFileCache::Result::Ok);
    // A reader that opened the file before the write-back reads the old text whole: the new text
    // goes to a file of its own that then takes the old one's place, never into the old file.
    QFile before(path("s.xml"));
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    ASSERT_EQ(cache.flush(), PageFileCache::Flush::Written);
    EXPECT_EQ(before.readAll(), QByteArray(kSettings));
    EXPECT_EQ(readFile(path("s.xml")), QByteArray("<?xml version=\"1.0\"?>\n<a />\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"s.xml"});
}

} // namespace
