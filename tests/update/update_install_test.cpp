// The update package against the local test server: its download into the working folder, the
// check of the whole package and the install of all of its files or, on any fault, of none.
#include "file_size_limit.h"
#include "http_test_server.h"
#include "packer.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "app/application.h"
#include "app/file_package.h"
#include "update/psynfiledownloader.h"

#include "cef_extras/logging.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using test_support::HttpReply;
using test_support::HttpTestServer;
using test_support::readFile;
using test_support::waitFor;
using test_support::writeFile;

struct Record {
    QString name;
    QByteArray data;
    qint64 size = -1; // -1: the data's length
};

// An update payload: the count, then the records, without a header text.
QByteArray updatePayload(const QList<Record>& records, qint64 count = -1)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_5_1);
    s << quint32(count < 0 ? records.size() : count);
    for (const Record& r : records)
        s << r.name << quint32(r.size < 0 ? r.data.size() : r.size) << r.data;
    return out;
}

QByteArray updatePackage(const QList<Record>& records) { return packer::packPayload(updatePayload(records)); }

// The package with its digest made to match again after a change.
QByteArray redigested(QByteArray file)
{
    const QByteArray digest = QCryptographicHash::hash(file.mid(FilePackage::PropsOffset), QCryptographicHash::Sha1);
    file.replace(FilePackage::DigestOffset, FilePackage::DigestSize, digest);
    return file;
}

QByteArray withDeclaredSize(QByteArray file, qint32 size)
{
    const qint32 littleEndian = qToLittleEndian(size);
    file.replace(FilePackage::SizeOffset, sizeof littleEndian, reinterpret_cast<const char*>(&littleEndian),
        sizeof littleEndian);
    return redigested(file);
}

const QList<Record> kGood = {{"skn.dat", "new pages"}};

struct Outcome {
    int finished = 0;
    int failed = 0;
    int installed = 0;
    QList<QPair<qint64, qint64>> parts;
};

class UpdateInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldApp = appDirPath();
        setAppDirPath(program() + "/");
        ASSERT_TRUE(writeFile(path("Brontivex"), "old program"));
        ASSERT_TRUE(QFile::setPermissions(path("Brontivex"), QFile::permissions(path("Brontivex")) | QFile::ExeOwner
                | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther));
        ASSERT_TRUE(writeFile(path("skn.dat"), "old pages"));
        ASSERT_TRUE(writeFile(path("Resources/conf.xml"), "old conf"));
        cef_logging::SetLogDestination((log.path() + "/app.log").toStdString(), LOGSEVERITY_INFO);
    }
    void TearDown() override
    {
        setAppDirPath(oldApp);
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    }

    QString program() const { return root.path() + "/program"; }
    QString path(const QString& relative) const { return program() + "/" + relative; }
    QString logText() const { return QString::fromUtf8(readFile(log.path() + "/app.log")); }
    QString package() const { return path("tupload/download/update.dat"); }

    // Every name below the program folder with its bytes and permissions.
    QMap<QString, QString> snapshot() const
    {
        QMap<QString, QString> out;
        QDirIterator it(program(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            const QString name = info.filePath().mid(program().size() + 1);
            out[name] = info.isDir()
                ? QStringLiteral("folder")
                : QString::fromLatin1(readFile(info.filePath()).toHex()) + QString(" %1").arg(int(info.permissions()));
        }
        return out;
    }

    // The download of the package as the server answers it, to its end.
    Outcome run(const HttpReply& reply)
    {
        server.route("/u/update.dat", reply);
        Outcome outcome;
        QThread thread;
        auto* downloader = new PsynfileDownLoader(&thread, server.url("/u/update.dat"));
        QObject::connect(downloader, &RangedDownload::finishPart, &context,
            [&](qint64 got, qint64 total) { outcome.parts.append({got, total}); });
        QObject::connect(downloader, &RangedDownload::downLoadFinished, &context, [&] { ++outcome.finished; });
        QObject::connect(downloader, &RangedDownload::downLoadFailed, &context, [&] { ++outcome.failed; });
        QObject::connect(downloader, &PsynfileDownLoader::unpressFinished, &context, [&] { ++outcome.installed; });
        thread.start();
        EXPECT_TRUE(waitFor([&] { return outcome.failed + outcome.installed > 0; }, 30000));
        downloader->deleteLater();
        thread.quit();
        EXPECT_TRUE(thread.wait(30000));
        // Whatever else the downloader sent before its thread ended.
        QCoreApplication::processEvents();
        return outcome;
    }
    Outcome run(const QByteArray& packageBytes) { return run(HttpReply::resource(packageBytes)); }

    TestApplication* app = TestApplication::get();
    QTemporaryDir root, log;
    QString oldApp;
    QObject context;
    HttpTestServer server;
};

TEST_F(UpdateInstall, PutsEveryFileInPlace)
{
    const QFileDevice::Permissions programPermissions = QFile::permissions(path("Brontivex"));
    const QByteArray bytes = updatePackage({{"Brontivex", "new program"}, {"skn.dat", "new pages"},
        {"Resources/conf.xml", "new conf"}, {"Resources/added.txt", QByteArray(70000, 'a')}});
    const Outcome o = run(bytes);
    EXPECT_EQ(o.finished, 1);
    EXPECT_EQ(o.installed, 1);
    EXPECT_EQ(o.failed, 0);
    ASSERT_FALSE(o.parts.isEmpty());
    EXPECT_EQ(o.parts.last(), qMakePair(qint64(bytes.size()), qint64(bytes.size())));

    EXPECT_EQ(readFile(path("Brontivex")), QByteArray("new program"));
    EXPECT_EQ(readFile(path("skn.dat")), QByteArray("new pages"));
    EXPECT_EQ(readFile(path("Resources/conf.xml")), QByteArray("new conf"));
    EXPECT_EQ(readFile(path("Resources/added.txt")), QByteArray(70000, 'a'));
    // A replaced program still runs; a new file is readable by all.
    EXPECT_EQ(QFile::permissions(path("Brontivex")), programPermissions);
    EXPECT_TRUE(QFile::permissions(path("Resources/added.txt")) & QFile::ReadOther);
    // The package goes, its emptied folders stay; nothing else is left beside the files.
    EXPECT_FALSE(QFileInfo::exists(package()));
    EXPECT_TRUE(QDir(path("tupload/download")).isEmpty());
    EXPECT_EQ(QDir(path("tupload")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"download"});
    EXPECT_EQ(QDir(program()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList{"Brontivex", "Resources", "skn.dat", "tupload"}));
    EXPECT_EQ(QDir(path("Resources")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList{"added.txt", "conf.xml"}));
}

struct Corrupt {
    const char* name;
    std::function<QByteArray()> package;
    const char* log; // "<dir>" stands for the program folder
};

void PrintTo(const Corrupt& c, std::ostream* os) { *os << c.name; }

class CorruptPackage : public UpdateInstall, public ::testing::WithParamInterface<Corrupt> {};

TEST_P(CorruptPackage, LeavesTheProgramFolderAsItWas)
{
    const QMap<QString, QString> before = snapshot();
    const Outcome o = run(GetParam().package());
    EXPECT_EQ(o.finished, 1);
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.installed, 0);
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(QFileInfo::exists(path("tupload")));
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/escape.txt"));
    const QString line = QString(GetParam().log).replace("<dir>", program());
    EXPECT_TRUE(logText().contains(line)) << logText().toStdString();
}

QByteArray earlyEndMark()
{
    // The stream ends inside the second record's bytes, the declared size is the whole payload's.
    const QByteArray whole = updatePayload({kGood.first(), {"Resources/conf.xml", QByteArray(4000, 'c')}});
    packer::Options options;
    options.endMark = true;
    QByteArray props, stream;
    if (!packer::compress(whole.left(whole.size() - 100), options, &props, &stream))
        return QByteArray();
    return packer::container(props, whole.size(), stream);
}

QByteArray withFlippedByte(QByteArray file, int offset)
{
    file[offset] = char(file[offset] ^ 0x40);
    return file;
}

INSTANTIATE_TEST_SUITE_P(UpdateInstall, CorruptPackage,
    ::testing::Values(Corrupt{"TooShort", [] { return updatePackage(kGood).left(157); }, "Update Error: bad compressed size: 157"},
        Corrupt{"ChangedAfterItsDigest", [] { return withFlippedByte(updatePackage(kGood), 160); },
            "Update Error: bad SHA1 hash of update file!"},
        Corrupt{"PropertiesTheDecoderRefuses",
            [] { return redigested(updatePackage(kGood).replace(FilePackage::PropsOffset, 1, "\xff")); },
            "Update Error: could not uncompress lzma, code: 4"},
        Corrupt{"StreamCutShort",
            [] {
                const QByteArray whole = packer::packPayload(updatePayload({{"skn.dat", QByteArray(50000, 'p')}}));
                return redigested(whole.left(whole.size() - 20));
            },
            "Update Error: could not uncompress lzma, code: 6"},
        Corrupt{"DeclaredSizeOverTheCap", [] { return withDeclaredSize(updatePackage(kGood), 600 * 1024 * 1024); },
            "Update Error: could not uncompress lzma, code: 2"},
        Corrupt{"EndMarkBeforeTheDeclaredSize", earlyEndMark,
            "Update Error: cant read file from downloaded stream, status: 1"},
        Corrupt{"NoCount", [] { return packer::packPayload(QByteArray()); },
            "Update Error: cant read files count from downloaded stream, status: 1"},
        Corrupt{"EmptyUpdate", [] { return packer::packPayload(updatePayload({})); }, "Update Error: update is empty!"},
        Corrupt{"CountBeyondTheRecords", [] { return packer::packPayload(updatePayload({kGood.first(), {"Brontivex", "x"}}, 3)); },
            "Update Error: cant read file from downloaded stream, status: 1"},
        Corrupt{"SizeNotTheDataLength", [] { return updatePackage({kGood.first(), {"Brontivex", "abc", 5}}); },
            "Update Error: bad file size 5 not matching data size 3"},
        Corrupt{"NameLeavingTheFolder", [] { return updatePackage({kGood.first(), {"../escape.txt", "x"}}); },
            "Update Error: bad file name '../escape.txt' in the update"},
        Corrupt{"AbsoluteName", [] { return updatePackage({kGood.first(), {"/escape.txt", "x"}}); },
            "Update Error: bad file name '/escape.txt' in the update"},
        Corrupt{"BackslashName", [] { return updatePackage({kGood.first(), {"Resources\\..\\..\\escape.txt", "x"}}); },
            "Update Error: bad file name 'Resources\\..\\..\\escape.txt' in the update"},
        Corrupt{"FileInAMissingFolder", [] { return updatePackage({kGood.first(), {"missing/a.txt", "x"}}); },
            "Can't open '<dir>/missing/a.txt' for read..\n"},
        Corrupt{"FolderWhereAFileGoes", [] { return updatePackage({kGood.first(), {"Resources", "x"}}); },
            "Can't open '<dir>/Resources' for read..\n"}), test_support::RowName());

TEST_F(UpdateInstall, FailedWriteLeavesTheProgramFolderAsItWas)
{
    const QMap<QString, QString> before = snapshot();
    // Small as a package, too large to write.
    const QByteArray bytes = updatePackage({kGood.first(), {"Brontivex", QByteArray(300000, 'b')}});
    ASSERT_LT(bytes.size(), 100000);
    FileSizeLimit limit(100000);
    ASSERT_TRUE(limit.set());
    const Outcome o = run(bytes);
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.installed, 0);
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(logText().contains("write file failed"));
}

TEST_F(UpdateInstall, WholePackageAlreadyDownloadedIsInstalledWithoutTheFinishedSignal)
{
    // A package of one whole block: bytes after the stream are not read.
    QByteArray props, stream;
    const QByteArray payload = updatePayload(kGood);
    ASSERT_TRUE(packer::compress(payload, packer::Options(), &props, &stream));
    stream += QByteArray(int(RangedDownload::BlockSize) - FilePackage::StreamOffset - stream.size(), '\0');
    const QByteArray bytes = packer::container(props, payload.size(), stream);
    ASSERT_EQ(bytes.size(), RangedDownload::BlockSize);
    ASSERT_TRUE(writeFile(package() + ".part", bytes));

    const Outcome o = run(bytes);
    EXPECT_EQ(server.requests().first().header("Range"), QByteArray("bytes=102400-"));
    EXPECT_EQ(o.finished, 0);
    EXPECT_EQ(o.installed, 1);
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(readFile(path("skn.dat")), QByteArray("new pages"));
    EXPECT_FALSE(QFileInfo::exists(package()));
}

TEST_F(UpdateInstall, StartClearsTheWorkingFoldersButKeepsThePartialPackage)
{
    ASSERT_TRUE(writeFile(path("tupload/old.zip"), "old"));
    ASSERT_TRUE(writeFile(path("tupload/.hidden"), "hidden"));
    ASSERT_TRUE(writeFile(path("tupload/sub/kept.txt"), "kept"));
    ASSERT_TRUE(writeFile(path("tupload/download/other.dat"), "other"));
    ASSERT_TRUE(writeFile(path("tupload/download/update.dat"), "an earlier package"));
    ASSERT_TRUE(writeFile(package() + ".part", QByteArray(102400 + 5, 'p')));
    QThread thread; // never started
    {
        PsynfileDownLoader downloader(&thread, server.url("/u/update.dat"));
        EXPECT_EQ(downloader.got(), 102400);
    }
    EXPECT_EQ(QDir(path("tupload")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList{".hidden", "download", "sub"}));
    EXPECT_EQ(QDir(path("tupload/download")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"update.dat.part"});
    EXPECT_EQ(QFileInfo(package() + ".part").size(), 102400);
}

TEST_F(UpdateInstall, TransferFailureOnlyKeepsWhatCanBeResumed)
{
    const QMap<QString, QString> before = snapshot();
    // Bytes that do not compress, so that the package is longer than one block.
    QRandomGenerator random(7);
    QByteArray noise(200000, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random.generate());
    const QByteArray bytes = updatePackage({{"skn.dat", noise}});
    ASSERT_GT(bytes.size(), 150000);

    Outcome o = run(HttpReply::resource(bytes).dropAfterBytes(150000));
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.finished + o.installed, 0);
    EXPECT_EQ(QFileInfo(package() + ".part").size(), 150000);

    // A refused answer leaves nothing to resume: the working folder goes.
    o = run(HttpReply::status(404, "missing"));
    EXPECT_EQ(o.failed, 1);
    EXPECT_EQ(o.finished + o.installed, 0);
    EXPECT_EQ(snapshot(), before);
}

TEST(DeleteDirectoryTree, DeletesTheTreeButNotWhatItsLinksReach)
{
    QTemporaryDir dir;
    const QString tree = dir.path() + "/tree";
    ASSERT_TRUE(writeFile(tree + "/a/b/c.txt", "c"));
    ASSERT_TRUE(writeFile(tree + "/.hidden", "h"));
    ASSERT_TRUE(writeFile(dir.path() + "/outside/o.txt", "o"));
    ASSERT_TRUE(QFile::link(dir.path() + "/outside", tree + "/a/link"));
    deleteDirectoryTree(tree);
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_EQ(readFile(dir.path() + "/outside/o.txt"), QByteArray("o"));
}

TEST(DeleteDirectoryTree, LeavesRelativeAndEmptyPathsAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.path() + "/tupload/a.txt", "a"));
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    deleteDirectoryTree("tupload");
    deleteDirectoryTree(QString());
    QDir::setCurrent(oldCurrent);
    EXPECT_EQ(readFile(dir.path() + "/tupload/a.txt"), QByteArray("a"));
}

} // namespace
