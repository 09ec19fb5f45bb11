// The main of the test executables: every file a test makes lies below a temporary folder of this
// process (mode 0700), in which QDir::tempPath() and the program's private folder then lie too;
// the folder goes when the tests end.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QByteArray folder = qgetenv("TMPDIR");
    if (folder.isEmpty())
        folder = "/tmp";
    folder += "/tm-test-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror("a temporary folder for the tests");
        return 2;
    }
    setenv("TMPDIR", folder.constData(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    QDir(QFile::decodeName(folder)).removeRecursively();
    return rc;
}
