// The single-instance guard: the running instance's server over real local sockets, the window it
// brings forward, the window search of a second instance, and the folder of the server.
#include "own_process.h"
#include "row_name.h"
#include "window_fixture.h"

#include "app/application.h"
#include "app/window.h"

#include "cef_extras/logging.h"
#include "win32sim/foreground.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QChildEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using test_support::RowName;
using test_support::waitFor;

const char kServerName[] = "Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}";

QByteArray replyOfThisProcess() { return "RES:" + QByteArray::number(QCoreApplication::applicationPid()) + ";"; }

// A client of the running instance, collecting what it answers.
class Client {
public:
    explicit Client(const QString& address)
    {
        QObject::connect(&m_socket, &QLocalSocket::readyRead, [this] { m_received += m_socket.readAll(); });
        m_socket.connectToServer(address);
        m_connected = m_socket.waitForConnected(5000);
    }
    bool connected() const { return m_connected; }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    int replies() const { return m_received.count(replyOfThisProcess()); }
    QByteArray received() const { return m_received; }
    // Sends a request of its own and waits for the answer: everything sent before it by any client
    // has been read by then.
    bool roundTrip()
    {
        const int before = replies();
        send("CMD:hide;");
        return waitFor([&] { return replies() > before; });
    }
    void disconnect() { m_socket.disconnectFromServer(); }
    // The server has hung up.
    bool hungUp()
    {
        return waitFor([&] { return m_socket.state() == QLocalSocket::UnconnectedState; });
    }

private:
    QLocalSocket m_socket;
    QByteArray m_received;
    bool m_connected = false;
};

// This test application as the running instance with a main window, its log in a file of its own.
class RunningInstance : public test_support::WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        ASSERT_TRUE(logDir.isValid());
        cef_logging::SetLogDestination(QFile::encodeName(logPath()).toStdString(), LOGSEVERITY_INFO);
        openWindow();
        app->becomeRunningInstance();
        address = instanceAddress(kServerName);
        // In the tray, as a start with "-autostart" leaves it.
        window->setWindowState(Qt::WindowMinimized);
        window->hide();
    }
    void TearDown() override
    {
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
        WindowFixture::TearDown();
    }
    QString logPath() const { return logDir.filePath("app.log"); }
    // The log lines with this text.
    QStringList logged(const QString& text) const
    {
        QStringList lines;
        for (const QString& line : QString::fromUtf8(test_support::readFile(logPath())).split('\n'))
            if (line.contains(text))
                lines << line;
        return lines;
    }

    QTemporaryDir logDir;
    QString address;
};

struct Exchange {
    const char* name;
    std::vector<QByteArray> pieces; // written one after another
    int replies;
    std::vector<QByteArray> unknownLogged; // the unknown segments as the log shows them
    bool shows;
};

void PrintTo(const Exchange& e, std::ostream* os) { *os << e.name; }

class ServerExchange : public RunningInstance, public ::testing::WithParamInterface<Exchange> {
};

TEST_P(ServerExchange, AnswersEveryCompleteCommandSegment)
{
    // The server decodes in the local code page; here it is UTF-8, so a character has several bytes.
    QTextCodec* const localCodec = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const Exchange& e = GetParam();
    Client client(address), witness(address);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(witness.connected());
    for (size_t i = 0; i + 1 < e.pieces.size(); ++i) {
        client.send(e.pieces[i]);
        ASSERT_TRUE(witness.roundTrip());
        EXPECT_EQ(client.replies(), 0) << "after piece " << i;
    }
    client.send(e.pieces.back());
    EXPECT_TRUE(waitFor([&] { return client.replies() >= e.replies; })) << client.received().constData();
    ASSERT_TRUE(witness.roundTrip());
    EXPECT_EQ(client.replies(), e.replies) << client.received().constData();
    EXPECT_EQ(client.received(), replyOfThisProcess().repeated(e.replies));

    EXPECT_EQ(logged("Application Error: unknown command ").size(), int(e.unknownLogged.size()));
    for (const QByteArray& segment : e.unknownLogged)
        EXPECT_EQ(logged("Application Error: unknown command " + QString::fromUtf8(segment) + " passed in local socket")
                      .size(),
                  1)
            << segment.constData();
    if (e.shows) {
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isMinimized());
        EXPECT_TRUE(waitFor([&] { return QApplication::activeWindow() == window; }));
    } else {
        EXPECT_TRUE(window->isHidden());
        EXPECT_TRUE(window->isMinimized());
    }
    QTextCodec::setCodecForLocale(localCodec);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, ServerExchange,
    ::testing::Values(Exchange{"TwoRequestsInOneWrite", {"CMD:show;CMD:show;"}, 2, {}, true},
                      Exchange{"RequestSplitInsideTheName", {"CMD:sh", "ow;"}, 1, {}, true},
                      Exchange{"SegmentWithoutThePrefixFirst", {"hello;CMD:show;"}, 1, {"hello"}, true},
                      Exchange{"AnotherCommandIsAnsweredAndDoesNothing", {"CMD:hide;"}, 1, {}, false},
                      Exchange{"CharacterSplitBetweenWrites", {"h\xC3", "\xA9llo;CMD:hi", "de;"}, 1, {"h\xC3\xA9llo"}, false},
                      Exchange{"NothingButAPartialSegment", {"CMD:show"}, 0, {}, false},
                      // Bytes that are no text reach the log escaped, a backslash doubled.
                      Exchange{"BinaryBytesAreLoggedEscaped", {"a\x01\x7f\\b\xff;CMD:hide;"}, 1,
                               {"a\\x{1}\\x{7f}\\\\b\\x{fffd}"}, false},
                      Exchange{"LongSegmentIsLoggedCut", {QByteArray(100, 'z') + ";CMD:hide;"}, 1,
                               {QByteArray(64, 'z') + "... (100 characters)"}, false},
                      // A few of one read are logged, the rest only counted.
                      Exchange{"ManyUnknownSegmentsInOneWrite", {"a;b;c;d;e;f;CMD:show;"}, 1, {"a", "b", "c", "d"}, true}),
    RowName());

TEST_F(RunningInstance, ShowWithoutAMainWindowIsAnsweredAndTouchesNothing)
{
    app->setMainWindow(nullptr);
    Client client(address);
    ASSERT_TRUE(client.connected());
    client.send("CMD:show;");
    EXPECT_TRUE(waitFor([&] { return client.replies() == 1; }));
    EXPECT_TRUE(window->isHidden());
    app->handleCommand("show");
    EXPECT_TRUE(window->isHidden());
}

// Accepted connections that end are dropped from the list and their sockets deleted.
TEST_F(RunningInstance, ClientsThatHangUpAreRemovedAndDeleted)
{
    // The server's sockets are its children: those it accepts here, and how many of them went.
    struct ServerSockets : QObject {
        QSet<QObject*> accepted;
        int deleted = 0;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (qobject_cast<QLocalServer*>(watched) && event->type() == QEvent::ChildAdded)
                accepted.insert(static_cast<QChildEvent*>(event)->child());
            if (qobject_cast<QLocalServer*>(watched) && event->type() == QEvent::ChildRemoved
                && accepted.remove(static_cast<QChildEvent*>(event)->child()))
                ++deleted;
            return false;
        }
    } counter;
    app->installEventFilter(&counter);
    auto first = std::make_unique<Client>(address);
    auto second = std::make_unique<Client>(address);
    Client stays(address);
    for (Client* c : {first.get(), second.get(), &stays})
        ASSERT_TRUE(c->connected() && c->roundTrip());
    EXPECT_EQ(counter.accepted.size(), 3);
    const int removedBefore = logged("Application Info: removing client").size();
    first->disconnect();
    second->disconnect();
    EXPECT_TRUE(waitFor([&] { return counter.deleted == 2; })) << counter.deleted;
    EXPECT_EQ(counter.accepted.size(), 1);
    EXPECT_EQ(logged("Application Info: removing client").size() - removedBefore, 2);
    EXPECT_FALSE(logged("Application Info: remove clients slot called, clients ").isEmpty());
    EXPECT_TRUE(stays.roundTrip());
    app->removeEventFilter(&counter);
}

// A client on a bare socket that writes and never reads its answers.
class WritingClient {
public:
    explicit WritingClient(const QString& address)
    {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(address);
        if (m_fd < 0 || size_t(name.size()) >= sizeof addr.sun_path)
            return;
        std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~WritingClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool connected() const { return m_connected; }

    // Writes unit over and over, up to total bytes, while the event loop runs, until the server hangs
    // up; with untilHungUp, then waits for that. Also measures the event loop's longest single turn.
    struct Result {
        bool hungUp = false;
        qint64 sent = 0;
        qint64 longestTurnMs = 0;
    };
    Result flood(const QByteArray& unit, qint64 total, bool untilHungUp)
    {
        Result r;
        QByteArray chunk = unit.repeated(qMax(1, 65536 / unit.size()));
        QElapsedTimer overall;
        overall.start();
        while (r.sent < total && overall.elapsed() < 60000) {
            const ssize_t n = ::send(m_fd, chunk.constData(), size_t(qMin<qint64>(chunk.size(), total - r.sent)),
                                     MSG_NOSIGNAL);
            if (n > 0) {
                r.sent += n;
                // Keeps the stream made of whole units.
                chunk = chunk.mid(int(n) % chunk.size()) + chunk.left(int(n) % chunk.size());
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                r.hungUp = true;
                break;
            }
            turn(&r);
        }
        while (untilHungUp && !r.hungUp && overall.elapsed() < 60000) {
            pollfd p{m_fd, POLLRDHUP, 0};
            r.hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR));
            if (!r.hungUp)
                turn(&r);
        }
        return r;
    }

private:
    // The event loop for a few milliseconds: longer only when an event keeps it.
    static void turn(Result* r)
    {
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
        r->longestTurnMs = qMax(r->longestTurnMs, t.elapsed());
    }

    int m_fd = -1;
    bool m_connected = false;
};

struct Flood {
    const char* name;
    QByteArray unit;
    qint64 total;
    const char* dropReason; // null: the client stays
};

void PrintTo(const Flood& f, std::ostream* os) { *os << f.name; }

class ServerFlood : public RunningInstance, public ::testing::WithParamInterface<Flood> {
};

// No client keeps the GUI thread or grows the program: one that breaks a bound is dropped after a
// small part of its flood, and one that stays is served in bounded turns, its log bounded too.
TEST_P(ServerFlood, StaysBoundedAndKeepsServingOthers)
{
    const Flood& f = GetParam();
    Client witness(address);
    ASSERT_TRUE(witness.connected() && witness.roundTrip());
    WritingClient flooder(address);
    ASSERT_TRUE(flooder.connected());
    const WritingClient::Result r = flooder.flood(f.unit, f.total, f.dropReason != nullptr);
    EXPECT_LT(r.longestTurnMs, 1000) << "the event loop was kept this long";
    if (f.dropReason) {
        EXPECT_TRUE(r.hungUp) << "sent " << r.sent;
        // What the server took before it hung up: its bounded buffers and the kernel's.
        EXPECT_LT(r.sent, 4 * 1024 * 1024);
        EXPECT_EQ(logged(QString("Application Error: local socket client dropped: ") + f.dropReason).size(), 1);
    } else {
        EXPECT_FALSE(r.hungUp);
        EXPECT_EQ(r.sent, f.total);
    }
    EXPECT_TRUE(witness.roundTrip());
    EXPECT_LE(logged("Application Error: unknown command ").size(), int(f.total / f.unit.size() / 10));
}

INSTANTIATE_TEST_SUITE_P(
    Clients, ServerFlood,
    ::testing::Values(Flood{"ShowRequestsWithoutReadingTheAnswers", "CMD:show;", 9000000, "answers not read"},
                      Flood{"BytesWithoutASemicolon", "x", 100 * 1024 * 1024, "segment too long"},
                      Flood{"OneLongSegmentInOneWrite", QByteArray(8192, 'y') + ";", 8193, "segment too long"},
                      Flood{"UnknownSegments", "hello;", 1000000, nullptr}), RowName());

// The show requests that one read brings bring the window forward once, not once each.
TEST_F(RunningInstance, ShowRequestsOfOneReadActivateTheWindowOnce)
{
    // The offscreen platform says so each time a window is raised.
    static int raises = 0;
    raises = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        if (m.contains("does not support raise()"))
            ++raises;
    });
    Client client(address);
    ASSERT_TRUE(client.connected());
    client.send("CMD:show;");
    EXPECT_TRUE(waitFor([&] { return client.replies() == 1; }));
    const int perShow = raises;
    client.send(QByteArray("CMD:show;").repeated(1000));
    EXPECT_TRUE(waitFor([&] { return client.replies() == 1001; })) << client.replies();
    qInstallMessageHandler(previous);
    ASSERT_GE(perShow, 1);
    EXPECT_LE(raises - perShow, 3 * perShow) << "raised " << raises - perShow << " times for 1000 requests";
    EXPECT_TRUE(window->isVisible());
}

// A connection beyond the bound is served, and the oldest one is dropped for it: the newest is the
// one a start waits on.
TEST_F(RunningInstance, AConnectionBeyondTheBoundDropsTheOldest)
{
    const int kBound = 16;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i <= kBound; ++i) {
        clients.push_back(std::make_unique<Client>(address));
        ASSERT_TRUE(clients.back()->connected() && clients.back()->roundTrip()) << "client " << i;
    }
    EXPECT_EQ(logged("Application Error: local socket client dropped: too many clients").size(), 1);
    EXPECT_TRUE(clients.front()->hungUp());
    for (size_t i = 1; i < clients.size(); ++i)
        EXPECT_TRUE(clients[i]->roundTrip()) << "client " << i;
}

TEST_F(RunningInstance, TheServerIsTheUsersAlone)
{
    struct stat folder, socket;
    ASSERT_EQ(lstat(QFile::encodeName(QFileInfo(address).path()).constData(), &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(folder.st_uid, geteuid());
    ASSERT_EQ(lstat(QFile::encodeName(address).constData(), &socket), 0);
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(socket.st_mode & 0077, 0u);
    EXPECT_EQ(socket.st_uid, geteuid());
    // It is below this process's own runtime folder.
    EXPECT_EQ(QFileInfo(address).path(), qEnvironmentVariable("XDG_RUNTIME_DIR") + "/tarquilmervane");
}

TEST(InstanceFolder, TheSocketNameIsShortAndTheSameForTheSameServer)
{
    const QString name = instanceSocketName(kServerName);
    EXPECT_LE(name.size(), 32);
    EXPECT_EQ(name, instanceSocketName(kServerName));
    EXPECT_NE(name, instanceSocketName(QString(kServerName) + "x"));
    // Nothing of the server name that a path could not hold.
    EXPECT_FALSE(name.contains('/') || name.contains('\\'));
}

// The places a private folder is searched in, below a root short whatever the temporary folder is
// (so that the lengths below are the test's own), by name: "runtime", "temp", "home" and "shared"
// folders; "longer" (60 characters: the server's own name would not fit below it, the socket's name
// does); "deep" (not even the socket's name fits below it); "gone" (missing); "relative"; "" none.
// Their private folders: "inRuntime", "inLonger", "inTemp", "inHome", "inShared".
class InstanceFolderPlaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        for (const char* name : {"runtime", "temp", "home", "shared", "longer", "deep"})
            ASSERT_TRUE(QDir().mkpath(at(name)));
    }
    QString at(const std::string& name) const
    {
        const QString uidName = QString("tarquilmervane-instance-%1").arg(geteuid());
        if (name == "runtime")
            return root.filePath("r");
        if (name == "temp")
            return root.filePath("t");
        if (name == "home")
            return root.filePath("h");
        if (name == "shared")
            return root.filePath("s");
        if (name == "longer")
            return root.filePath(QString(60 - root.path().size() - 1, 'm'));
        if (name == "deep")
            return root.filePath(QString(100 - root.path().size(), 'd'));
        if (name == "gone")
            return root.filePath("gone");
        if (name == "relative")
            return "r";
        if (name == "inRuntime")
            return at("runtime") + "/tarquilmervane";
        if (name == "inLonger")
            return at("longer") + "/tarquilmervane";
        if (name == "inTemp")
            return at("temp") + "/" + uidName;
        if (name == "inHome")
            return at("home") + "/.tarquilmervane-instance";
        if (name == "inShared")
            return at("shared") + "/" + uidName;
        return QString();
    }

    QTemporaryDir root{test_support::shortTempBase() + "/i-XXXXXX"};
    const QString socketName = instanceSocketName(kServerName);
};

struct Places {
    const char* name;
    enum Taken { Nothing, RuntimeNameByALink, TemporaryNameByALink, TemporaryNameByAFile } taken;
    const char* runtime;
    const char* temp;
    const char* home;
    const char* shared;
    const char* expected;
};

void PrintTo(const Places& row, std::ostream* os) { *os << row.name; }

class InstanceFolderSearch : public InstanceFolderPlaces, public ::testing::WithParamInterface<Places> {};

TEST_P(InstanceFolderSearch, TheFirstPrivateFolderThatLeavesRoomForTheSocket)
{
    const Places& c = GetParam();
    if (c.taken == Places::RuntimeNameByALink)
        QFile::link(at("temp"), at("inRuntime"));
    else if (c.taken == Places::TemporaryNameByALink)
        QFile::link(at("home"), at("inTemp"));
    else if (c.taken == Places::TemporaryNameByAFile)
        test_support::writeFile(at("inTemp"), "x");
    const QString folder = instanceFolderIn({at(c.runtime), at(c.temp), at(c.home), at(c.shared)}, socketName);
    EXPECT_EQ(folder, at(c.expected));
    if (!folder.isEmpty()) {
        EXPECT_LE(QFile::encodeName(folder + "/" + socketName).size(), 107);
        struct stat st;
        ASSERT_EQ(lstat(QFile::encodeName(folder).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

INSTANTIATE_TEST_SUITE_P(InstanceFolder, InstanceFolderSearch,
    ::testing::Values(Places{"RuntimeFolder", Places::Nothing, "runtime", "temp", "home", "shared", "inRuntime"},
        Places{"LongRuntimeFolder", Places::Nothing, "longer", "temp", "home", "shared", "inLonger"},
        Places{"NoRuntimeFolder", Places::Nothing, "", "temp", "home", "shared", "inTemp"},
        Places{"RelativeRuntimeFolder", Places::Nothing, "relative", "temp", "home", "shared", "inTemp"},
        Places{"RuntimeFolderMissing", Places::Nothing, "gone", "temp", "home", "shared", "inTemp"},
        Places{"RuntimeFolderTooDeep", Places::Nothing, "deep", "temp", "home", "shared", "inTemp"},
        Places{"NameTakenByALink", Places::RuntimeNameByALink, "runtime", "temp", "home", "shared", "inTemp"},
        // Someone made the temporary folder's name first.
        Places{"TemporaryNameTakenByALink", Places::TemporaryNameByALink, "", "temp", "home", "shared", "inHome"},
        Places{"TemporaryNameTakenByAFile", Places::TemporaryNameByAFile, "", "temp", "home", "shared", "inHome"},
        Places{"TemporaryFolderTooDeep", Places::Nothing, "", "deep", "home", "shared", "inHome"},
        Places{"NoHomeEither", Places::Nothing, "", "deep", "", "shared", "inShared"},
        Places{"NothingUsable", Places::Nothing, "", "deep", "deep", "deep", ""}),
    RowName());

// A folder of ours that others could enter is narrowed to the user alone.
TEST_F(InstanceFolderPlaces, AFolderOthersCouldEnterIsNarrowedToTheUser)
{
    const QString inRuntime = at("inRuntime");
    ASSERT_TRUE(QDir().mkpath(inRuntime));
    ASSERT_EQ(chmod(QFile::encodeName(inRuntime).constData(), 0755), 0);
    EXPECT_EQ(instanceFolderIn({at("runtime"), at("temp"), at("home"), at("shared")}, socketName), inRuntime);
    struct stat st;
    ASSERT_EQ(lstat(QFile::encodeName(inRuntime).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A top-level window of this process with a title, as the window search finds it.
struct TitledWindow {
    QWidget widget;
    HWND hwnd;
    explicit TitledWindow(const QString& title)
    {
        widget.setWindowTitle(title);
        hwnd = static_cast<HWND>(widget.winId());
    }
};

// An instance that started while this one was trying to reach one is found by the probe made
// under the decision lock: its server file stays, this process does not listen but sends it the
// show command, and ends once it answers.
TEST(SecondStartWhileDeciding, FindsTheInstanceThatStartedMeanwhileAndLeavesItsServer)
{
    if (test_support::ranInOwnProcess())
        return;
    TestApplication* app = TestApplication::get();
    const QString address = instanceAddress(kServerName);
    QLocalServer running;
    running.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(running.listen(address)) << running.errorString().toStdString();
    QByteArray received;
    QObject::connect(&running, &QLocalServer::newConnection, [&] {
        QLocalSocket* client = running.nextPendingConnection();
        QObject::connect(client, &QLocalSocket::readyRead, [&, client] {
            received += client->readAll();
            if (received.contains("CMD:show;")) {
                client->write("RES:1;");
                client->flush();
            }
        });
    });
    // What a start does when its first try found no server.
    app->becomeRunningInstance();
    EXPECT_TRUE(waitFor([&] { return isQuitRequested(); }, 10000));
    EXPECT_EQ(received, QByteArray("CMD:show;"));
    EXPECT_TRUE(QFileInfo::exists(address));
    QLocalSocket again;
    again.connectToServer(address);
    EXPECT_TRUE(again.waitForConnected(5000));
}

class DecisionLock : public test_support::WindowFixture {
};

// The decision to become the running instance waits for its lock: while another process holds it,
// this one does not listen; once it is free, this one does.
TEST_F(DecisionLock, NoListeningWhileTheLockIsHeldElsewhere)
{
    if (test_support::ranInOwnProcess())
        return;
    openWindow();
    const QString address = instanceAddress(kServerName);
    ASSERT_FALSE(address.isEmpty());
    QElapsedTimer clock;
    clock.start();
    std::promise<bool> held;
    std::atomic<bool> listenedWhileHeld{false};
    std::atomic<qint64> releasedAt{0};
    std::thread holder([&] {
        QLockFile lock(address + ".lock");
        const bool locked = lock.lock();
        held.set_value(locked);
        if (!locked)
            return;
        // Watches the address for a while, long enough for the start to reach the lock.
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (QFileInfo::exists(address))
                listenedWhileHeld = true;
        }
        releasedAt = clock.elapsed();
        lock.unlock();
    });
    const bool locked = held.get_future().get();
    if (locked)
        app->becomeRunningInstance();
    const qint64 decidedAt = clock.elapsed();
    holder.join();
    ASSERT_TRUE(locked);
    EXPECT_FALSE(listenedWhileHeld);
    EXPECT_GE(decidedAt, releasedAt.load());
    QLocalSocket probe;
    probe.connectToServer(address);
    EXPECT_TRUE(probe.waitForConnected(5000));
}

struct Title {
    const char* name;
    QString title;
    bool found;
};

void PrintTo(const Title& row, std::ostream* os) { *os << row.name; }

class ActivateProcessTitle : public ::testing::TestWithParam<Title> {};

TEST_P(ActivateProcessTitle, OnlyTheProgramsTitleOfThatProcessIsBroughtForward)
{
    TestApplication::get();
    const Title& c = GetParam();
    quint64 pid = QCoreApplication::applicationPid();
    TitledWindow w(c.title);
    win32sim::clearActivationCalls();
    EXPECT_EQ(activateProcessEnumProc(w.hwnd, reinterpret_cast<LPARAM>(&pid)), c.found ? FALSE : TRUE);
    const auto calls = win32sim::activationCalls();
    if (c.found) {
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].kind, win32sim::ActivationCall::Foreground);
        EXPECT_EQ(calls[1].kind, win32sim::ActivationCall::Focus);
        EXPECT_EQ(calls[0].hwnd, w.hwnd);
        EXPECT_EQ(calls[1].hwnd, w.hwnd);
    } else {
        EXPECT_TRUE(calls.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(ActivateProcess, ActivateProcessTitle,
    ::testing::Values(Title{"TheTitle", QString::fromUtf8("Tarquil助手"), true},
        Title{"Numbered", QString::fromUtf8("Tarquil助手 (2)"), true},
        Title{"NumberedWithoutABlank", QString::fromUtf8("Tarquil助手(12)"), true},
        Title{"NumberedAfterBlanksAndATab", QString::fromUtf8("Tarquil助手 \t (3)"), true},
        Title{"EmptyNumber", QString::fromUtf8("Tarquil助手 ()"), false},
        Title{"NoNumber", QString::fromUtf8("Tarquil助手 (x)"), false},
        Title{"BlankAfterTheNumber", QString::fromUtf8("Tarquil助手 (2) "), false},
        Title{"LineBreak", QString::fromUtf8("Tarquil助手\n"), false},
        Title{"OtherCase", QString::fromUtf8("tarquil助手"), false},
        Title{"LetterBefore", QString::fromUtf8("xTarquil助手"), false},
        Title{"PartOfTheTitle", QString::fromUtf8("Tarquil"), false},
        Title{"None", QString(), false},
        // 1024 characters do not fit the title buffer (1023 and the end mark); 1023 do.
        Title{"BeyondTheTitleBuffer", QString::fromUtf8("Tarquil助手 (") + QString(1012, '7') + ")", false},
        Title{"FillingTheTitleBuffer", QString::fromUtf8("Tarquil助手 (") + QString(1011, '7') + ")", true}),
    RowName());

// The window of another process is passed over.
TEST(ActivateProcess, TheWindowOfAnotherProcessIsPassedOver)
{
    TestApplication::get();
    TitledWindow ours(QString::fromUtf8("Tarquil助手"));
    quint64 other = quint64(QCoreApplication::applicationPid()) + 1;
    win32sim::clearActivationCalls();
    EXPECT_EQ(activateProcessEnumProc(ours.hwnd, reinterpret_cast<LPARAM>(&other)), TRUE);
    EXPECT_TRUE(win32sim::activationCalls().empty());
}

TEST(ActivateProcess, SearchesTheTopLevelWindowsOfTheProcess)
{
    TestApplication::get();
    TitledWindow before("other"), program(QString::fromUtf8("Tarquil助手 (1)")), after("more");
    win32sim::clearActivationCalls();
    psActivateProcess(0);
    EXPECT_TRUE(win32sim::activationCalls().empty());
    psActivateProcess(QCoreApplication::applicationPid() + 1);
    EXPECT_TRUE(win32sim::activationCalls().empty());
    psActivateProcess(QCoreApplication::applicationPid());
    const auto calls = win32sim::activationCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].hwnd, program.hwnd);
    EXPECT_EQ(calls[1].hwnd, program.hwnd);
}

} // namespace
