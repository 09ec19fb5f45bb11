// The single-instance guard: the running instance's server over real local sockets, the window it
// brings forward, the window search of a second instance, and the folder of the server.
#include "own_process.h"
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
    [](const ::testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });

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
                      Flood{"UnknownSegments", "hello;", 1000000, nullptr}),
    [](const ::testing::TestParamInfo<Flood>& info) { return std::string(info.param.name); });

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

TEST(InstanceFolder, TheFirstPrivateFolderThatLeavesRoomForTheSocket)
{
    // Short whatever the temporary folder is, so that the lengths below are the test's own.
    QTemporaryDir root(test_support::shortTempBase() + "/i-XXXXXX");
    ASSERT_TRUE(root.isValid());
    const QString socketName = instanceSocketName(kServerName);
    const QString runtime = root.filePath("r"), temp = root.filePath("t"), home = root.filePath("h"),
                  shared = root.filePath("s");
    // 60 characters: the server's own name would not fit below it, the socket's name does.
    const QString longer = root.filePath(QString(60 - root.path().size() - 1, 'm'));
    // So long that not even the socket's name fits below it.
    const QString deep = root.filePath(QString(100 - root.path().size(), 'd'));
    for (const QString& d : {runtime, temp, home, shared, longer, deep})
        ASSERT_TRUE(QDir().mkpath(d));
    const QString uidName = QString("tarquilmervane-instance-%1").arg(geteuid());
    const QString inRuntime = runtime + "/tarquilmervane", inTemp = temp + "/" + uidName,
                  inHome = home + "/.tarquilmervane-instance", inShared = shared + "/" + uidName;
    const QStringList made = {inRuntime, inTemp, inHome, inShared, longer + "/tarquilmervane"};

    struct Case {
        const char* name;
        std::function<void()> prepare;
        InstancePlaces places;
        QString expected;
    } cases[] = {
        {"runtime folder", [] {}, {runtime, temp, home, shared}, inRuntime},
        {"long runtime folder", [] {}, {longer, temp, home, shared}, longer + "/tarquilmervane"},
        {"no runtime folder", [] {}, {QString(), temp, home, shared}, inTemp},
        {"relative runtime folder", [] {}, {"r", temp, home, shared}, inTemp},
        {"runtime folder missing", [] {}, {root.filePath("gone"), temp, home, shared}, inTemp},
        {"runtime folder too deep", [] {}, {deep, temp, home, shared}, inTemp},
        {"name taken by a link", [&] { QFile::link(temp, inRuntime); }, {runtime, temp, home, shared}, inTemp},
        // Someone made the temporary folder's name first.
        {"temporary name taken by a link", [&] { QFile::link(home, inTemp); }, {QString(), temp, home, shared}, inHome},
        {"temporary name taken by a file",
         [&] { test_support::writeFile(inTemp, "x"); },
         {QString(), temp, home, shared},
         inHome},
        {"temporary folder too deep", [] {}, {QString(), deep, home, shared}, inHome},
        {"no home either", [] {}, {QString(), deep, QString(), shared}, inShared},
        {"nothing usable", [] {}, {QString(), deep, deep, deep}, QString()},
    };
    for (const Case& c : cases) {
        for (const QString& m : made) {
            QFile::remove(m);
            QDir(m).removeRecursively();
        }
        c.prepare();
        const QString folder = instanceFolderIn(c.places, socketName);
        EXPECT_EQ(folder, c.expected) << c.name;
        if (!folder.isEmpty()) {
            EXPECT_LE(QFile::encodeName(folder + "/" + socketName).size(), 107) << c.name;
            struct stat st;
            ASSERT_EQ(lstat(QFile::encodeName(folder).constData(), &st), 0) << c.name;
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.name;
            EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
        }
    }

    // A folder of ours that others could enter is narrowed to the user alone.
    QFile::remove(inRuntime);
    ASSERT_TRUE(QDir().mkpath(inRuntime));
    ASSERT_EQ(chmod(QFile::encodeName(inRuntime).constData(), 0755), 0);
    EXPECT_EQ(instanceFolderIn({runtime, temp, home, shared}, socketName), inRuntime);
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

TEST(ActivateProcess, OnlyTheProgramsTitleOfThatProcessIsBroughtForward)
{
    TestApplication::get();
    struct Case {
        QString title;
        bool found;
    } cases[] = {
        {QString::fromUtf8("Tarquil助手"), true},
        {QString::fromUtf8("Tarquil助手 (2)"), true},
        {QString::fromUtf8("Tarquil助手(12)"), true},
        {QString::fromUtf8("Tarquil助手 \t (3)"), true},
        {QString::fromUtf8("Tarquil助手 ()"), false},
        {QString::fromUtf8("Tarquil助手 (x)"), false},
        {QString::fromUtf8("Tarquil助手 (2) "), false},
        {QString::fromUtf8("Tarquil助手\n"), false},
        {QString::fromUtf8("tarquil助手"), false},
        {QString::fromUtf8("xTarquil助手"), false},
        {QString::fromUtf8("Tarquil"), false},
        {QString(), false},
        // 1024 characters do not fit the title buffer (1023 and the end mark); 1023 do.
        {QString::fromUtf8("Tarquil助手 (") + QString(1012, '7') + ")", false},
        {QString::fromUtf8("Tarquil助手 (") + QString(1011, '7') + ")", true},
    };
    quint64 pid = QCoreApplication::applicationPid();
    for (const Case& c : cases) {
        TitledWindow w(c.title);
        win32sim::clearActivationCalls();
        EXPECT_EQ(activateProcessEnumProc(w.hwnd, reinterpret_cast<LPARAM>(&pid)), c.found ? FALSE : TRUE)
            << c.title.left(40).toStdString();
        const auto calls = win32sim::activationCalls();
        if (c.found) {
            ASSERT_EQ(calls.size(), 2u);
            EXPECT_EQ(calls[0].kind, win32sim::ActivationCall::Foreground);
            EXPECT_EQ(calls[1].kind, win32sim::ActivationCall::Focus);
            EXPECT_EQ(calls[0].hwnd, w.hwnd);
            EXPECT_EQ(calls[1].hwnd, w.hwnd);
        } else {
            EXPECT_TRUE(calls.empty()) << c.title.left(40).toStdString();
        }
    }

    // The window of another process is passed over.
    TitledWindow ours(QString::fromUtf8("Tarquil助手"));
    quint64 other = pid + 1;
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
