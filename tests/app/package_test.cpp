#include "row_name.h"
#include "test_app.h"
#include "test_files.h"

#include "app/file_package.h"
#include "app/lzma_uncompress.h"
#include "packer.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

using test_support::RowName;

QByteArray sha1Of(const QByteArray& data)
{
    unsigned char out[20];
    return QByteArray(reinterpret_cast<const char*>(sha1(data.constData(), data.size(), out)), 20);
}

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>(gen.bounded(256));
    return b;
}

// Rewrites the digest after the bytes from offset 148 on were changed.
void resign(QByteArray* file)
{
    const QByteArray digest = QCryptographicHash::hash(file->mid(148), QCryptographicHash::Sha1);
    file->replace(128, 20, digest);
}

void setDeclaredSize(QByteArray* file, qint32 size)
{
    char bytes[4];
    qToLittleEndian<qint32>(size, bytes);
    file->replace(153, 4, QByteArray(bytes, 4));
    resign(file);
}

TEST(Sha1, KnownVectorsAndBlockBoundaries)
{
    EXPECT_EQ(sha1Of("").toHex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1Of("abc").toHex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq").toHex(),
        "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1Of(QByteArray(1000000, 'a')).toHex(), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    for (int n : {1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000}) {
        const QByteArray data = randomBytes(n, static_cast<quint32>(n));
        EXPECT_EQ(sha1Of(data), QCryptographicHash::hash(data, QCryptographicHash::Sha1)) << n;
    }
    unsigned char out[20];
    EXPECT_EQ(sha1("x", -1, out), out);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out), 20).toHex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// The decoder's outcomes on raw streams from the packer's encoder.
TEST(LzmaUncompress, Outcomes)
{
    const QByteArray data = randomBytes(3000, 7) + QByteArray(5000, 'z');
    for (bool endMark : {false, true}) {
        packer::Options o;
        o.endMark = endMark;
        QByteArray props, stream;
        ASSERT_TRUE(packer::compress(data, o, &props, &stream));
        auto decode = [&](const QByteArray& s, const QByteArray& p, size_t limit, size_t* outLen) {
            QByteArray out(static_cast<int>(limit), '\0');
            *outLen = limit;
            size_t inLen = static_cast<size_t>(s.size());
            const int res = LzmaUncompress(reinterpret_cast<unsigned char*>(out.data()), outLen,
                reinterpret_cast<const unsigned char*>(s.constData()), &inLen,
                reinterpret_cast<const unsigned char*>(p.constData()), static_cast<size_t>(p.size()));
            return std::make_pair(res, out.left(static_cast<int>(*outLen)));
        };
        size_t n = 0;
        auto full = decode(stream, props, static_cast<size_t>(data.size()), &n);
        EXPECT_EQ(full.first, LZMA_RESULT_OK) << endMark;
        EXPECT_EQ(full.second, data);

        // Output limit reached first: success with input left over.
        auto part = decode(stream, props, 100, &n);
        EXPECT_EQ(part.first, LZMA_RESULT_OK);
        EXPECT_EQ(part.second, data.left(100));

        // Input runs out before the output is complete.
        auto cut = decode(stream.left(stream.size() / 2), props, static_cast<size_t>(data.size()), &n);
        EXPECT_EQ(cut.first, LZMA_RESULT_INPUT_EOF);
        auto tiny = decode(stream.left(3), props, static_cast<size_t>(data.size()), &n);
        EXPECT_EQ(tiny.first, LZMA_RESULT_INPUT_EOF);

        // Properties the decoder does not take.
        QByteArray bad = props;
        bad[0] = static_cast<char>(225);
        EXPECT_EQ(decode(stream, bad, static_cast<size_t>(data.size()), &n).first, LZMA_RESULT_UNSUPPORTED);
        EXPECT_EQ(decode(stream, props.left(4), static_cast<size_t>(data.size()), &n).first,
            LZMA_RESULT_UNSUPPORTED);

        // With an end mark, a larger limit stops at the mark.
        if (endMark) {
            auto longer = decode(stream, props, static_cast<size_t>(data.size()) + 64, &n);
            EXPECT_EQ(longer.first, LZMA_RESULT_OK);
            EXPECT_EQ(n, static_cast<size_t>(data.size()));
        }
    }
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(appDir.isValid());
        ASSERT_TRUE(outside.isValid());
        setAppDirPath(appDir.path() + "/");
        target = outside.path() + "/target";
    }

    bool unpack(const QByteArray& file, const QString& targetFolder)
    {
        EXPECT_TRUE(test_support::writeFile(appDir.path() + "/skn.dat", file));
        return Application::unpackPackage("skn.dat", targetFolder);
    }

    // Every file below a folder, relative names.
    static QStringList filesBelow(const QString& folder)
    {
        QStringList names;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << QDir(folder).relativeFilePath(it.next());
        names.sort();
        return names;
    }

    QTemporaryDir appDir;
    QTemporaryDir outside;
    QString target;
};

TEST_F(PackageTest, RoundTripIsByteExact)
{
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(static_cast<char>(i));
    const QList<packer::Entry> entries = {
        {"template/default/main.html", "<html>\r\n<body>\0x</body></html>\n"},
        {"template/img/blob.bin", allBytes + randomBytes(70000, 1)},
        {"template/empty.txt", QByteArray()},
        {QString::fromUtf8("template/\xE5\x9B\xBE/\xE5\x90\x8D.css"), "body{}"},
        {"top.txt", QByteArray(200000, '\0')},
    };
    for (bool endMark : {false, true}) {
        packer::Options o;
        o.endMark = endMark;
        QDir(target).removeRecursively();
        ASSERT_TRUE(unpack(packer::packEntries(entries, o), target)) << endMark;
        for (const packer::Entry& e : entries) {
            const QString path = target + "/" + e.name;
            ASSERT_TRUE(QFileInfo(path).isFile()) << qPrintable(e.name);
            EXPECT_EQ(test_support::readFile(path), e.data) << qPrintable(e.name);
        }
    }
    // A second unpack overwrites the files and leaves unknown ones alone.
    ASSERT_TRUE(test_support::writeFile(target + "/template/empty.txt", "old contents"));
    ASSERT_TRUE(test_support::writeFile(target + "/stray.txt", "stray"));
    ASSERT_TRUE(unpack(packer::packEntries(entries), target));
    EXPECT_EQ(test_support::readFile(target + "/template/empty.txt"), QByteArray());
    EXPECT_EQ(test_support::readFile(target + "/stray.txt"), "stray");
}

TEST_F(PackageTest, ManyEntriesAndTheApplicationDirectoryAsDefaultTarget)
{
    QList<packer::Entry> entries;
    for (int i = 0; i < 600; ++i)
        entries.append({QString("template/d%1/f%2.js").arg(i % 17).arg(i), randomBytes(i % 50, i)});
    ASSERT_TRUE(unpack(packer::packEntries(entries), QString()));
    for (const packer::Entry& e : entries)
        ASSERT_EQ(test_support::readFile(appDir.path() + "/" + e.name), e.data) << qPrintable(e.name);
}

TEST_F(PackageTest, PackerBuildsFromAFolder)
{
    QTemporaryDir pages;
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/default/main.html", "<p>main</p>"));
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/default/img/a.png", randomBytes(5000, 3)));
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/.hidden", "h"));
    QString error;
    ASSERT_TRUE(packer::packFolder(pages.path(), "template/", appDir.path() + "/skn.dat", packer::Options(), &error))
        << qPrintable(error);
    ASSERT_TRUE(Application::unpackPackage("skn.dat", target));
    EXPECT_EQ(filesBelow(target),
        (QStringList{"template/.hidden", "template/default/img/a.png", "template/default/main.html"}));
    EXPECT_EQ(test_support::readFile(target + "/template/default/img/a.png"), randomBytes(5000, 3));

    // The folder named relative to the working folder, as a build names it: the same package.
    const QByteArray fromAbsolute = test_support::readFile(appDir.path() + "/skn.dat");
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QFileInfo(pages.path()).absolutePath()));
    const bool packed = packer::packFolder(QFileInfo(pages.path()).fileName(), "template/",
                                           appDir.path() + "/relative.dat", packer::Options(), &error);
    QDir::setCurrent(cwd);
    ASSERT_TRUE(packed) << qPrintable(error);
    EXPECT_EQ(test_support::readFile(appDir.path() + "/relative.dat"), fromAbsolute);

    QTemporaryDir empty;
    EXPECT_FALSE(packer::packFolder(empty.path(), "", appDir.path() + "/x.dat", packer::Options(), &error));
}

// The packer refuses every name the unpacker would stop at, from the file names and from the prefix,
// and writes no package then.
struct RefusedName {
    const char* name;
    const char* file;
    const char* prefix;
};

void PrintTo(const RefusedName& row, std::ostream* os) { *os << row.name; }

class PackerRefuses : public PackageTest, public ::testing::WithParamInterface<RefusedName> {};

TEST_P(PackerRefuses, NamesTheUnpackerRefuses)
{
    const RefusedName& c = GetParam();
    QTemporaryDir pages;
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/default/main.html", "<p>main</p>"));
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/default/" + c.file, "<p>page</p>"));
    const QString name = c.prefix + QString("default/") + c.file;
    EXPECT_FALSE(FilePackage::isSafeEntryName(name)) << qPrintable(name);
    const QString output = appDir.path() + "/refused.dat";
    QString error;
    EXPECT_FALSE(packer::packFolder(pages.path(), c.prefix, output, packer::Options(), &error)) << qPrintable(name);
    EXPECT_TRUE(error.contains(name)) << qPrintable(error);
    EXPECT_FALSE(QFile::exists(output)) << qPrintable(name);
}

INSTANTIATE_TEST_SUITE_P(PackageTest, PackerRefuses,
    ::testing::Values(RefusedName{"ColonInAFileName", "x:y.html", "template/"},
        RefusedName{"BackslashInAFileName", "back\\slash.html", "template/"},
        RefusedName{"RootPrefix", "main.html", "/"},
        RefusedName{"PrefixAbove", "main.html", "../"},
        RefusedName{"PrefixLeadingAbove", "main.html", "template/../../"},
        RefusedName{"DrivePrefix", "main.html", "C:/"},
        RefusedName{"DotPrefix", "main.html", "./"},
        RefusedName{"DoubleSlashInThePrefix", "main.html", "template//"}),
    RowName());

// The same folder packs once its names are ones the unpacker takes, and unpacks whole.
TEST_F(PackageTest, PackerTakesTheNamesTheUnpackerTakes)
{
    QTemporaryDir pages;
    ASSERT_TRUE(test_support::writeFile(pages.path() + "/default/x-y.html", "<p>page</p>"));
    QString error;
    ASSERT_TRUE(packer::packFolder(pages.path(), "template/", appDir.path() + "/skn.dat", packer::Options(), &error))
        << qPrintable(error);
    ASSERT_TRUE(Application::unpackPackage("skn.dat", target));
    EXPECT_EQ(filesBelow(target), QStringList{"template/default/x-y.html"});
}

TEST_F(PackageTest, ContainerChecks)
{
    const QByteArray good = packer::packEntries({{"a.txt", "alpha"}});
    ASSERT_TRUE(unpack(good, target));

    // The first 128 bytes are free.
    QByteArray free = good;
    for (int i = 0; i < 128; ++i)
        free[i] = static_cast<char>(0xA5);
    EXPECT_TRUE(unpack(free, target));

    // Any byte from the digest on changed without a new digest.
    for (int offset : {128, 147, 148, 152, 153, 157, good.size() - 1}) {
        QByteArray bad = good;
        bad[offset] = static_cast<char>(bad[offset] ^ 0x01);
        EXPECT_FALSE(unpack(bad, target)) << offset;
    }
    // Too short for a stream, even with a matching digest; truncated anywhere.
    QByteArray header = good.left(157);
    resign(&header);
    EXPECT_FALSE(unpack(header, target));
    EXPECT_FALSE(unpack(good.left(100), target));
    EXPECT_FALSE(unpack(QByteArray(), target));
    for (int cut : {1, 5, good.size() - 160}) {
        QByteArray truncated = good.left(good.size() - cut);
        EXPECT_FALSE(unpack(truncated, target)) << cut;
        resign(&truncated);
        EXPECT_FALSE(unpack(truncated, target)) << cut << " resigned";
    }
    EXPECT_FALSE(Application::unpackPackage("missing.dat", target));
}

// A refused package says what was wrong with it.
TEST_F(PackageTest, ARefusalSaysWhatFailed)
{
    const QByteArray good = packer::packEntries({{"a/b.txt", "alpha"}, {"a/c.txt", "beta"}});
    QByteArray truncated = good.left(good.size() - 4);
    resign(&truncated);
    QByteArray noEntries = packer::packPayload(packer::payloadOf({}, "header"));
    ASSERT_TRUE(QDir().mkpath(target));
    ASSERT_TRUE(test_support::writeFile(target + "/a", "a file where a folder goes"));
    struct Case {
        const char* what;
        QByteArray package;
        QString says;
    } cases[] = {
        {"too short", good.left(157), "it is too short to be a package (157 bytes)"},
        {"altered", good.left(good.size() - 1) + 'x', "its digest does not match its contents"},
        {"cut short and signed again", truncated, "its data cannot be decoded"},
        {"no entries", noEntries, "its list of files is damaged"},
        {"a folder that cannot be made", good, "a file could not be written below " + target},
    };
    for (const Case& c : cases) {
        QString error;
        ASSERT_TRUE(test_support::writeFile(appDir.path() + "/skn.dat", c.package));
        EXPECT_FALSE(Application::unpackPackage("skn.dat", target, &error)) << c.what;
        EXPECT_TRUE(error.startsWith(c.says)) << c.what << ": " << qPrintable(error);
    }
    QString error;
    EXPECT_FALSE(Application::unpackPackage("missing.dat", target, &error));
    EXPECT_TRUE(error.startsWith("it cannot be opened")) << qPrintable(error);
}

TEST_F(PackageTest, DeclaredSizeOutOfBoundsOrLargerThanTheStream)
{
    const QByteArray payload = packer::payloadOf({{"a.txt", "alpha"}}, "h");
    const QByteArray good = packer::packPayload(payload);

    // Absurd sizes are refused before anything is allocated.
    for (qint32 size : {std::numeric_limits<qint32>::max(), 512 * 1024 * 1024 + 1, good.size() * 9000}) {
        QByteArray bad = good;
        setDeclaredSize(&bad, size);
        QByteArray out;
        EXPECT_EQ(FilePackage::unpack(bad, &out), FilePackage::BadSize) << size;
        EXPECT_FALSE(unpack(bad, target)) << size;
    }
    // A stream without end mark that runs out before the declared size.
    QByteArray longer = good;
    setDeclaredSize(&longer, payload.size() + 1000);
    int code = -1;
    QByteArray out;
    EXPECT_EQ(FilePackage::unpack(longer, &out, &code), FilePackage::DecodeFailed);
    EXPECT_EQ(code, LZMA_RESULT_INPUT_EOF);
    EXPECT_FALSE(unpack(longer, target));

    // A negative size gives an empty payload, which holds no entries.
    QByteArray negative = good;
    setDeclaredSize(&negative, -5);
    EXPECT_EQ(FilePackage::unpack(negative, &out), FilePackage::Ok);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(unpack(negative, target));

    // A smaller size cuts the payload short.
    QByteArray smaller = good;
    setDeclaredSize(&smaller, payload.size() - 3);
    EXPECT_FALSE(unpack(smaller, target));
}

TEST_F(PackageTest, EarlyEndMarkLeavesTheRestZero)
{
    packer::Options o;
    o.endMark = true;
    const QByteArray payload = packer::payloadOf({{"a.txt", "alpha"}, {"b/c.txt", "gamma"}}, "h");
    QByteArray file = packer::packPayload(payload, o);
    setDeclaredSize(&file, payload.size() + 4096);
    QByteArray out;
    int decoded = 0;
    ASSERT_EQ(FilePackage::unpack(file, &out, nullptr, &decoded), FilePackage::Ok);
    EXPECT_EQ(decoded, payload.size());
    ASSERT_EQ(out.size(), payload.size() + 4096);
    EXPECT_EQ(out.left(payload.size()), payload);
    EXPECT_EQ(out.mid(payload.size()), QByteArray(4096, '\0'));
    ASSERT_TRUE(unpack(file, target));
    EXPECT_EQ(test_support::readFile(target + "/b/c.txt"), "gamma");

    // An end mark in the middle of the entries: the zeros do not make an entry.
    const QByteArray head = payload.left(payload.size() - 10);
    QByteArray cut = packer::packPayload(head, o);
    setDeclaredSize(&cut, payload.size());
    QDir(target).removeRecursively();
    EXPECT_FALSE(unpack(cut, target));
    EXPECT_EQ(filesBelow(target), QStringList{"a.txt"});
}

TEST_F(PackageTest, PayloadChecks)
{
    auto packed = [](const std::function<void(QDataStream&)>& write) {
        QByteArray payload;
        QDataStream s(&payload, QIODevice::WriteOnly);
        s.setVersion(QDataStream::Qt_5_1);
        write(s);
        return packer::packPayload(payload);
    };
    // A well-formed payload with no entries.
    EXPECT_FALSE(unpack(packed([](QDataStream& s) { s << QString("h") << quint32(0); }), target));
    // No header, no count.
    EXPECT_FALSE(unpack(packed([](QDataStream& s) { s << quint32(0xFFFFFFFE); }), target));
    EXPECT_FALSE(unpack(packed([](QDataStream& s) { s << QString("h"); }), target));
    // A null header is fine.
    EXPECT_TRUE(unpack(packed([](QDataStream& s) { s << QString() << quint32(1) << QString("n.txt") << quint32(1)
                                                      << QByteArray("x"); }),
        target));
    // More entries counted than present; a huge count.
    EXPECT_FALSE(unpack(packed([](QDataStream& s) {
        s << QString("h") << quint32(3) << QString("one.txt") << quint32(1) << QByteArray("1");
    }),
        target));
    EXPECT_FALSE(unpack(packed([](QDataStream& s) { s << QString("h") << quint32(0xFFFFFFFF); }), target));
    // A size that differs from the data stops there; earlier entries stay written.
    QDir(target).removeRecursively();
    EXPECT_FALSE(unpack(packed([](QDataStream& s) {
        s << QString("h") << quint32(3) << QString("first.txt") << quint32(5) << QByteArray("first")
          << QString("second.txt") << quint32(9) << QByteArray("second") << QString("third.txt") << quint32(5)
          << QByteArray("third");
    }),
        target));
    EXPECT_EQ(filesBelow(target), QStringList{"first.txt"});
    // A data length beyond the payload.
    EXPECT_FALSE(unpack(packed([](QDataStream& s) {
        s << QString("h") << quint32(1) << QString("big.txt") << quint32(0x7FFFFFF0) << quint32(0x7FFFFFF0);
    }),
        target));
    // A null data array is an empty entry.
    ASSERT_TRUE(unpack(packed([](QDataStream& s) {
        s << QString("h") << quint32(1) << QString("null.txt") << quint32(0) << QByteArray();
    }),
        target));
    EXPECT_TRUE(QFileInfo(target + "/null.txt").isFile());
    EXPECT_EQ(QFileInfo(target + "/null.txt").size(), 0);
}

TEST_F(PackageTest, EntryNamesMustStayBelowTheTarget)
{
    const QStringList hostile = {"../evil.txt", "template/../../evil.txt", outside.path() + "/evil.txt",
        "/evil.txt", "C:/evil.txt", "..\\evil.txt", "template\\..\\..\\evil.txt", "", "template//evil.txt",
        "./evil.txt", "template/./evil.txt", "template/..", "template/", QString("a") + QChar(0) + "b"};
    for (const QString& name : hostile) {
        QDir(target).removeRecursively();
        const QByteArray file = packer::packEntries({{"good.txt", "g"}, {name, "evil"}});
        EXPECT_FALSE(unpack(file, target)) << qPrintable(name);
        EXPECT_FALSE(QFile::exists(outside.path() + "/evil.txt")) << qPrintable(name);
        EXPECT_FALSE(QFile::exists("/evil.txt"));
        EXPECT_EQ(filesBelow(target), QStringList{"good.txt"}) << qPrintable(name);
    }
    // Names that merely look odd are fine.
    ASSERT_TRUE(unpack(packer::packEntries({{"..a/b..c/.d", "ok"}}), target));
    EXPECT_EQ(test_support::readFile(target + "/..a/b..c/.d"), "ok");
}

// A lone surrogate is no character: no file can carry the name as the package gives it.
TEST_F(PackageTest, EntryNamesAreWholeCharacters)
{
    for (const QString& name : {QString("page.html") + QChar(0xD800), QString("a") + QChar(0xDC00) + "/page.html"}) {
        QDir(target).removeRecursively();
        EXPECT_FALSE(FilePackage::isSafeEntryName(name));
        EXPECT_FALSE(unpack(packer::packEntries({{"good.txt", "g"}, {name, "x"}}), target));
        EXPECT_EQ(filesBelow(target), QStringList{"good.txt"});
    }
    // A surrogate pair is one character.
    const QString pair = QString("page") + QChar(0xD83D) + QChar(0xDE00) + ".html";
    ASSERT_TRUE(unpack(packer::packEntries({{pair, "x"}}), target));
    EXPECT_EQ(test_support::readFile(target + "/" + pair), "x");
}

TEST_F(PackageTest, LinksInTheTargetAreNotFollowedOutside)
{
    QDir().mkpath(target);
    const QString elsewhere = outside.path() + "/elsewhere";
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, target + "/template"));
    ASSERT_TRUE(test_support::writeFile(elsewhere + "/victim.txt", "precious"));
    ASSERT_TRUE(QFile::link(elsewhere + "/victim.txt", target + "/page.html"));

    EXPECT_FALSE(unpack(packer::packEntries({{"template/evil.txt", "evil"}}), target));
    EXPECT_FALSE(QFile::exists(elsewhere + "/evil.txt"));
    // No folder is made through the link either.
    EXPECT_FALSE(unpack(packer::packEntries({{"template/sub/deeper/evil.txt", "evil"}}), target));
    EXPECT_FALSE(QFile::exists(elsewhere + "/sub"));

    // A link in place of a file is replaced, its target untouched.
    ASSERT_TRUE(unpack(packer::packEntries({{"page.html", "new page"}}), target));
    EXPECT_FALSE(QFileInfo(target + "/page.html").isSymLink());
    EXPECT_EQ(test_support::readFile(target + "/page.html"), "new page");
    EXPECT_EQ(test_support::readFile(elsewhere + "/victim.txt"), "precious");
}

TEST_F(PackageTest, UnwritableEntryFails)
{
    QDir().mkpath(target + "/taken.txt"); // a folder where a file should go
    EXPECT_FALSE(unpack(packer::packEntries({{"taken.txt", "x"}}), target));
    ASSERT_TRUE(test_support::writeFile(target + "/file", "f"));
    EXPECT_FALSE(unpack(packer::packEntries({{"file/inner.txt", "x"}}), target));
    EXPECT_EQ(test_support::readFile(target + "/file"), "f");

    // The entries before the one that cannot be written are written, none after it, and no
    // temporary file is left behind.
    EXPECT_FALSE(unpack(packer::packEntries({{"a.txt", "a"}, {"taken.txt", "x"}, {"z.txt", "z"}}), target));
    EXPECT_EQ(filesBelow(target), (QStringList{"a.txt", "file"}));
}

// Entries are read while the stream is decoded, in steps: every field of an entry may be cut by a
// step's end, and so may the header.
TEST_F(PackageTest, EntriesAcrossDecodeSteps)
{
    const QByteArray first = randomBytes(FilePackage::DecodeStep, 11);
    const QByteArray second = randomBytes(300, 12);
    QByteArray secondName;
    {
        QDataStream out(&secondName, QIODevice::WriteOnly);
        out << QString("b/second.bin");
    }
    // The header text (4 + 2 * 14 bytes), the count (4), then the first entry: name "a/first.bin"
    // (4 + 2 * 11), size (4), length (4) and its bytes.
    const int secondAt = 32 + 4 + 26 + 8 + first.size();
    // A step ends inside the second entry's name length, name, size, data length and data.
    for (int shift = -40; shift <= 4; ++shift) {
        // The second entry starts `shift` bytes after the first step's end.
        const QByteArray firstData = first.left(first.size() - (secondAt - FilePackage::DecodeStep - shift));
        packer::Options o;
        o.header = "pages of tests";
        o.level = 1;
        const QList<packer::Entry> entries = {{"a/first.bin", firstData}, {"b/second.bin", second},
            {"b/third.txt", QByteArray(3 * FilePackage::DecodeStep, 't')}};
        ASSERT_EQ(packer::payloadOf(entries, o.header).indexOf(secondName), FilePackage::DecodeStep + shift);
        QDir(target).removeRecursively();
        ASSERT_TRUE(unpack(packer::packEntries(entries, o), target)) << shift;
        for (const packer::Entry& e : entries)
            EXPECT_EQ(test_support::readFile(target + "/" + e.name), e.data) << shift << qPrintable(e.name);
    }
    packer::Options longHeader;
    longHeader.header = QString(FilePackage::DecodeStep / 2 + 1, QLatin1Char('h'));
    QDir(target).removeRecursively();
    ASSERT_TRUE(unpack(packer::packEntries({{"one.txt", "1"}}, longHeader), target));
    EXPECT_EQ(test_support::readFile(target + "/one.txt"), "1");
}

// A stream that ends early fails the unpack; the entries it held whole are written by then, each
// complete, and nothing else is.
TEST_F(PackageTest, StreamEndingEarlyKeepsTheWholeEntriesOnly)
{
    QList<packer::Entry> entries;
    for (int i = 0; i < 8; ++i)
        entries.append({QString("e%1.bin").arg(i), randomBytes(40000, 100 + i)});
    const QByteArray good = packer::packEntries(entries);
    QByteArray cut = good.left(157 + (good.size() - 157) * 6 / 10);
    resign(&cut);
    EXPECT_FALSE(unpack(cut, target));
    const QStringList written = filesBelow(target);
    EXPECT_FALSE(written.isEmpty());
    EXPECT_LT(written.size(), entries.size());
    for (int i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written.at(i), entries.at(i).name);
        EXPECT_EQ(test_support::readFile(target + "/" + written.at(i)), entries.at(i).data) << i;
    }
}

TEST_F(PackageTest, MakePathResult)
{
    const QString base = outside.path();
    EXPECT_TRUE(Application::makePath(base + "/a/b/c"));
    EXPECT_TRUE(QFileInfo(base + "/a/b/c").isDir());
    EXPECT_FALSE(Application::makePath(base + "/a/b/c/")); // nothing left to create
    EXPECT_TRUE(Application::makePath(base + "/a/x"));
    ASSERT_TRUE(test_support::writeFile(base + "/plain", "p"));
    EXPECT_FALSE(Application::makePath(base + "/plain/sub"));
}

} // namespace
