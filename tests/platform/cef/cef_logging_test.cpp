#include "include/base/cef_logging.h"
#include "cef_extras/logging.h"
#include "row_name.h"

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

struct Severity {
    const char* name;
    cef_log_severity_t min;
    int expectedLines; // of INFO, WARNING, ERROR
};

void PrintTo(const Severity& row, std::ostream* os) { *os << row.name; }

class SeverityFilter : public CefLoggingTest, public ::testing::WithParamInterface<Severity> {};

TEST_P(SeverityFilter, KeepsTheLinesFromTheLeastSeverity)
{
    const Severity& c = GetParam();
    cef_logging::SetLogDestination(path().toStdString(), c.min);
    LOG(INFO) << "i";
    LOG(WARNING) << "w";
    LOG(ERROR) << "e";
    EXPECT_EQ(readLines(path()).size(), c.expectedLines) << "min severity " << c.min;
}

INSTANTIATE_TEST_SUITE_P(CefLoggingTest, SeverityFilter,
    ::testing::Values(Severity{"Default", LOGSEVERITY_DEFAULT, 3}, Severity{"Verbose", LOGSEVERITY_VERBOSE, 3},
        Severity{"Info", LOGSEVERITY_INFO, 3}, Severity{"Warning", LOGSEVERITY_WARNING, 2},
        Severity{"Error", LOGSEVERITY_ERROR, 1}, Severity{"Disable", LOGSEVERITY_DISABLE, 0}),
    test_support::RowName());

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

QList<QByteArray> fileLines(const QString& file)
{
    QFile f(file);
    QList<QByteArray> lines = f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>();
    lines.removeAll(QByteArray());
    return lines;
}

// The log keeps one previous file: at its bound the file becomes "<path>.1" and a new one starts,
// every line whole in one of the two, neither file beyond the bound.
TEST_F(CefLoggingTest, TheLogFileIsBoundedWithOnePreviousFile)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    const size_t lineBytes = cef_logging::kMaxLogLineBytes - 100;
    const int perFile = int(cef_logging::kMaxLogFileBytes / cef_logging::kMaxLogLineBytes);
    const int count = 2 * perFile + perFile / 2; // more than two files' worth
    auto body = [&](int i) { return "line " + std::to_string(i) + " " + std::string(lineBytes, char('a' + i % 26)); };
    for (int i = 0; i < count; ++i)
        LOG(INFO) << body(i);
    const QString previous = path() + ".1";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"app.log", "app.log.1"}));
    EXPECT_LE(QFileInfo(path()).size(), qint64(cef_logging::kMaxLogFileBytes));
    EXPECT_LE(QFileInfo(previous).size(), qint64(cef_logging::kMaxLogFileBytes));
    // The newest lines, whole and in order, the last one at the end of the current file.
    const QList<QByteArray> kept = fileLines(previous) + fileLines(path());
    ASSERT_GT(kept.size(), perFile);
    for (int n = 0; n < kept.size(); ++n) {
        const int i = count - kept.size() + n;
        ASSERT_TRUE(kept[n].endsWith(QByteArray::fromStdString("] " + body(i)))) << "line " << i;
    }
}

// Texts far beyond the bound of a line, with or without line breaks, keep both files within the
// file bound; so does a previous file that cannot be replaced.
TEST_F(CefLoggingTest, NoTextTakesAFileBeyondItsBound)
{
    cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
    const std::string huge(cef_logging::kMaxLogFileBytes + 10, 'z');
    const std::string lines(cef_logging::kMaxLogFileBytes / 4, '\n');
    for (int i = 0; i < 3; ++i) {
        LOG(INFO) << huge;
        LOG(INFO) << "x" << lines << "y";
    }
    for (const QString& file : {path(), path() + ".1"}) {
        EXPECT_LE(QFileInfo(file).size(), qint64(cef_logging::kMaxLogLineBytes) * 6) << file.toStdString();
        for (const QByteArray& line : fileLines(file))
            EXPECT_LE(line.size() + 1, int(cef_logging::kMaxLogLineBytes));
    }

    // "app.log.1" a folder with something in it: the current file starts over at its bound.
    QFile::remove(path() + ".1");
    ASSERT_TRUE(QDir().mkpath(path() + ".1/kept"));
    const std::string line(cef_logging::kMaxLogLineBytes - 100, 'q');
    for (size_t i = 0; i < 3 * cef_logging::kMaxLogFileBytes / line.size(); ++i)
        LOG(INFO) << line;
    EXPECT_LE(QFileInfo(path()).size(), qint64(cef_logging::kMaxLogFileBytes));
    ASSERT_FALSE(fileLines(path()).isEmpty());
    EXPECT_TRUE(fileLines(path()).last().endsWith(QByteArray::fromStdString("] " + line)));
    EXPECT_TRUE(QFileInfo(path() + ".1/kept").isDir());
}

// The text after the line's prefix, as the log wrote it.
struct LineCase {
    const char* name;
    std::string text;
    std::string written; // unless cut
    bool cut;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

// The text as the log writes it while nothing is cut.
std::string escaped(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F)
            out += QString::asprintf("\\x%02x", c).toStdString();
        else
            out += ch;
    }
    return out;
}

class LogLine : public CefLoggingTest, public ::testing::WithParamInterface<LineCase> {};

// A cut text is also tried after one to three more bytes, so that the cut falls at each place
// of a character.
TEST_P(LogLine, OneBoundedLineWithEveryByteAccountedFor)
{
    const LineCase& c = GetParam();
    for (int shift = 0; shift < (c.cut ? 4 : 1); ++shift) {
        SCOPED_TRACE(shift);
        const std::string text = std::string(size_t(shift), '.') + c.text;
        QFile::remove(path());
        cef_logging::SetLogDestination(path().toStdString(), LOGSEVERITY_DEFAULT);
        LOG(INFO) << text;
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray all = f.readAll();
        ASSERT_TRUE(all.endsWith('\n'));
        ASSERT_EQ(all.count('\n'), 1);
        EXPECT_LE(size_t(all.size()), cef_logging::kMaxLogLineBytes);
        const int textStart = all.indexOf("] ") + 2;
        ASSERT_GT(textStart, 2);
        const std::string written = all.mid(textStart, all.size() - textStart - 1).toStdString();
        if (!c.cut) {
            EXPECT_EQ(written, c.written);
            continue;
        }
        // Cut: the written text is the start of the text, and the marker counts the rest.
        const QRegularExpression marker(QStringLiteral(" \\[\\.\\.\\. (\\d+) bytes left out\\]$"));
        const QRegularExpressionMatch m = marker.match(QString::fromStdString(written));
        ASSERT_TRUE(m.hasMatch()) << written.substr(written.size() - std::min<size_t>(written.size(), 80));
        const size_t leftOut = m.captured(1).toULongLong();
        ASSERT_LE(leftOut, text.size());
        const std::string kept = written.substr(0, written.size() - size_t(m.capturedLength()));
        EXPECT_EQ(kept, escaped(text.substr(0, text.size() - leftOut)));
        // Cut near the bound, and never inside a character.
        EXPECT_GT(size_t(all.size()), cef_logging::kMaxLogLineBytes - 64);
        const QString decoded = QString::fromUtf8(kept.data(), int(kept.size()));
        EXPECT_FALSE(decoded.contains(QChar(QChar::ReplacementCharacter)));
    }
}

std::string repeated(const std::string& piece, size_t bytes)
{
    std::string out;
    while (out.size() < bytes)
        out += piece;
    return out;
}

INSTANTIATE_TEST_SUITE_P(CefLogging, LogLine,
    ::testing::Values(LineCase{"ShortText", "device event:3", "device event:3", false},
        LineCase{"ControlBytesEscaped", std::string("a\tb\x01" "c\x7f" "d\0e", 9), "a\\tb\\x01c\\x7fd\\x00e", false},
        LineCase{"InnerLineBreaksEscaped", "a\nb\r\nc", "a\\nb\\r\\nc", false},
        LineCase{"BreaksAtTheEndDropped", "Can't open 'a' for read..\n", "Can't open 'a' for read..", false},
        LineCase{"OnlyBreaks", "\n\r\n", "", false},
        LineCase{"NonAsciiKept", "Größe 大小", "Größe 大小", false},
        LineCase{"LongText", repeated("abcdefghij", 100000), "", true},
        LineCase{"TextAsLongAsTheBound", std::string(cef_logging::kMaxLogLineBytes, 'a'), "", true},
        LineCase{"TwoByteCharacters", repeated("é", 40000), "", true},
        LineCase{"FourByteCharacters", repeated("a😀", 40000), "", true},
        LineCase{"EscapedBytes", repeated("\x01\x02z", 30000), "", true},
        LineCase{"LineBreaksBeyondTheBound", std::string(100000, '\n') + "end", "", true},
        LineCase{"PageFile", repeated("<Key Name=\"Left\" Value=\"0x01\"/>\n\t", 20 * 1024 * 1024), "", true}),
    test_support::RowName());

} // namespace
