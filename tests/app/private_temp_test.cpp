#include "app/private_temp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

TEST(PrivateTemp, CreatesOrReusesAPrivateFolder)
{
    QTemporaryDir base;
    const QString path = privateTempPathIn(base.path(), "tm");
    ASSERT_EQ(path, base.path() + "/tm");
    EXPECT_EQ(modeOf(path), 0700);
    EXPECT_EQ(privateTempPathIn(base.path(), "tm"), path);

    // A folder of ours that is too open is narrowed.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0755), 0);
    EXPECT_EQ(privateTempPathIn(base.path(), "tm"), path);
    EXPECT_EQ(modeOf(path), 0700);
}

TEST(PrivateTemp, NeverUsesALinkOrAFile)
{
    QTemporaryDir base, elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), base.path() + "/linked"));
    const QString p = privateTempPathIn(base.path(), "linked");
    ASSERT_FALSE(p.isEmpty());
    EXPECT_NE(p, base.path() + "/linked");
    EXPECT_TRUE(p.startsWith(base.path() + "/linked-"));
    EXPECT_FALSE(QFileInfo(p).isSymLink());
    EXPECT_EQ(modeOf(p), 0700);

    QFile file(base.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString q = privateTempPathIn(base.path(), "plain");
    EXPECT_TRUE(q.startsWith(base.path() + "/plain-"));
    EXPECT_TRUE(QFileInfo(q).isDir());

    EXPECT_EQ(privateTempPathIn(QString(), "x"), QString());
    EXPECT_EQ(privateTempPathIn(base.path() + "/missing/deeper", "x"), QString());
}

TEST(PrivateTemp, ProcessPathIsStableAndPrivate)
{
    const QString p = privateTempPath();
    ASSERT_FALSE(p.isEmpty());
    EXPECT_EQ(privateTempPath(), p);
    EXPECT_EQ(modeOf(p), 0700);
}

} // namespace
