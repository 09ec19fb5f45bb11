#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <string>
#include <thread>
#include <vector>

namespace {

QStringList readLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

class CefLoggingTest : public ::testing::Test {
protected:
    void TearDown() override { cef_logging::SetLogDestination("", LOGSEVERITY_DEFAULT); }
    QTemporaryDir dir;
    QString path() const { return dir.filePath("app.log"); }
};

TEST_F(CefLoggingTest, LineCarriesSeverityFileAndLine)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    const int line = __LINE__ + 1;
    LOG(INFO) << "device event:" << 3;
    const QStringList lines = readLines(path());
    ASSERT_EQ(lines.size(), 1);
    const QRegularExpression re(QStringLiteral(
        "^\\[\\d{4}/\\d{6}\\.\\d{3}:INFO:cef_logging_test\\.cpp\\((\\d+)\\)\\] device event:3$"));
    const auto m = re.match(lines[0]);
    ASSERT_TRUE(m.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(m.captured(1).toInt(), line);
}

TEST_F(CefLoggingTest, SeverityFilter)
{
    struct Case {
        cef_log_severity_t min;
        int expectedLines; // of INFO, WARNING, ERROR
    } cases[] = {
        {LOGSEVERITY_DEFAULT, 3}, {LOGSEVERITY_VERBOSE, 3}, {LOGSEVERITY_INFO, 3},
        {LOGSEVERITY_WARNING, 2}, {LOGSEVERITY_ERROR, 1},   {LOGSEVERITY_DISABLE, 0},
    };
    for (const Case& c : cases) {
        QFile::remove(path());
        cef_logging::SetLogDestination(path().toStdString(), c.min);
        LOG(INFO) << "i";
        LOG(WARNING) << "w";
        LOG(ERROR) << "e";
        EXPECT_EQ(readLines(path()).size(), c.expectedLines) << "min severity " << c.min;
    }
}

TEST_F(CefLoggingTest, FilteredStreamIsNotEvaluated)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_ERROR);
    int evaluated = 0;
    auto touch = [&] { return ++evaluated; };
    LOG(INFO) << touch();
    EXPECT_EQ(evaluated, 0);
    LOG(ERROR) << touch();
    EXPECT_EQ(evaluated, 1);
}

TEST_F(CefLoggingTest, NoDestinationWritesNothing)
{
    cef_logging::SetLogDestination("", LOGSEVERITY_DEFAULT);
    LOG(INFO) << "dropped";
    EXPECT_FALSE(QFile::exists(path()));
}

// The file stays open between lines; a file removed or moved away meanwhile still gets no more
// lines: the next one starts a new file at the path.
TEST_F(CefLoggingTest, ALineAfterTheFileWasRemovedOrMovedStartsANewFile)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    LOG(INFO) << "first";
    ASSERT_TRUE(QFile::remove(path()));
    LOG(INFO) << "second";
    QStringList lines = readLines(path());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("] second"));

    const QString moved = dir.filePath("moved.log");
    ASSERT_TRUE(QFile::rename(path(), moved));
    LOG(INFO) << "third";
    EXPECT_EQ(readLines(moved).size(), 1);
    lines = readLines(path());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("] third"));
}

TEST_F(CefLoggingTest, ConcurrentLinesStayWhole)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                LOG(INFO) << "thread " << t << " line " << i;
        });
    for (auto& th : threads)
        th.join();
    const QStringList lines = readLines(path());
    ASSERT_EQ(lines.size(), 800);
    const QRegularExpression re(QStringLiteral("\\] thread \\d line \\d+$"));
    for (const QString& l : lines)
        ASSERT_TRUE(re.match(l).hasMatch()) << l.toStdString();
}

} // namespace

namespace {

// The log keeps one previous file: at its bound the file becomes "<path>.1" and a new one starts,
// every line whole in one of the two; a line longer than the bound still goes out whole.
TEST_F(CefLoggingTest, TheLogFileIsBoundedWithOnePreviousFile)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    const size_t lineBytes = cef_logging::kMaxLogFileBytes / 3; // two lines fill a file
    const int count = 7;                                         // more than two files' worth
    auto body = [&](int i) { return "line " + std::to_string(i) + " " + std::string(lineBytes, char('a' + i)); };
    for (int i = 0; i < count; ++i)
        LOG(INFO) << body(i);
    const QString previous = path() + ".1";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"app.log", "app.log.1"}));
    EXPECT_LE(QFileInfo(path()).size(), qint64(cef_logging::kMaxLogFileBytes));
    EXPECT_LE(QFileInfo(previous).size(), qint64(cef_logging::kMaxLogFileBytes));
    // The newest lines, in order and whole, the last one at the end of the current file.
    auto lines = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
    };
    QList<QByteArray> kept = lines(previous) + lines(path());
    kept.removeAll(QByteArray());
    ASSERT_EQ(kept.size(), 3); // the last file holds one line, the previous one two
    for (int n = 0; n < kept.size(); ++n)
        EXPECT_TRUE(kept[n].endsWith(QByteArray::fromStdString("] " + body(count - 3 + n)))) << "line " << count - 3 + n;

    const std::string huge(cef_logging::kMaxLogFileBytes + 10, 'z');
    LOG(INFO) << huge;
    QList<QByteArray> last = lines(path());
    last.removeAll(QByteArray());
    ASSERT_EQ(last.size(), 1);
    EXPECT_TRUE(last[0].endsWith(QByteArray::fromStdString("] " + huge)));
    EXPECT_TRUE(lines(previous).join().contains(QByteArray::fromStdString("] " + body(count - 1))));
}

} // namespace
