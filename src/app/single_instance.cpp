// The single-instance check at start-up: a running instance answers on the local server, and
// without one this process becomes the running instance.
#include "app/single_instance.h"

#include "app/application.h"
#include "app/private_temp.h"

#include "include/base/cef_logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>

#include <sys/un.h>
#include <unistd.h>

namespace {

// A local socket's address holds at most this many bytes of its path.
constexpr int kSocketPathMax = int(sizeof(sockaddr_un{}.sun_path)) - 1;
// How long a second instance waits for the running instance's answer.
constexpr int kReplyTimeoutMs = 5000;
// How long the decision to become the running instance waits for another process deciding.
constexpr int kDecisionLockMs = 10000;
// How long the check that no instance started meanwhile waits for a connection.
constexpr int kProbeMs = 3000;

// Bounds of the running instance's server, so that no client stalls the GUI thread or grows the
// program: the connections served at once, the bytes of one segment, what one read takes from a
// client, the answers a client may leave unread, and the unknown segments logged per read.
constexpr int kMaxClients = 16;
constexpr int kMaxSegmentBytes = 4096;
constexpr qint64 kReadChunkBytes = 64 * 1024;
constexpr qint64 kMaxUnreadReplyBytes = 64 * 1024;
constexpr int kUnknownLoggedPerRead = 4;
// How much of an unknown segment the log shows.
constexpr int kLoggedSegmentChars = 64;

const char kCommandPrefix[] = "CMD:";

// The folder at base/name when base is an absolute path, the folder is the user's alone
// (privateFolderAt) and the socket's address fits below it; "" otherwise.
QString usableFolder(const QString& base, const QString& name, const QString& socketName)
{
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        return QString();
    const QString folder = QDir::cleanPath(base) + QLatin1Char('/') + name;
    if (QFile::encodeName(folder + QLatin1Char('/') + socketName).size() > kSocketPathMax)
        return QString();
    return privateFolderAt(folder);
}

// A segment for the log: at most kLoggedSegmentChars characters, a backslash doubled and every character
// that is not printable (control bytes, bytes the code page could not decode) as "\x{hex}".
std::string loggedSegment(const QString& segment)
{
    QString out;
    const QVector<uint> points = segment.toUcs4();
    for (int i = 0; i < points.size() && i < kLoggedSegmentChars; ++i) {
        const uint c = points[i];
        if (c == '\\')
            out += QLatin1String("\\\\");
        else if (c != QChar::ReplacementCharacter && QChar::isPrint(c))
            out += QString::fromUcs4(&c, 1);
        else
            out += QStringLiteral("\\x{%1}").arg(c, 0, 16);
    }
    if (points.size() > kLoggedSegmentChars)
        out += QStringLiteral("... (%1 characters)").arg(points.size());
    return out.toStdString();
}

} // namespace

QString instanceSocketName(const QString& serverName)
{
    const QByteArray digest = QCryptographicHash::hash(serverName.toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("instance-") + QString::fromLatin1(digest.toHex().left(16));
}

QString instanceFolderIn(const InstancePlaces& places, const QString& socketName)
{
    const QString inTemp = QStringLiteral("tarquilmervane-instance-%1").arg(geteuid());
    const struct {
        const QString& base;
        QString name;
    } candidates[] = {
        {places.runtimeDir, QStringLiteral("tarquilmervane")},
        {places.tempDir, inTemp},
        {places.homeDir, QStringLiteral(".tarquilmervane-instance")},
        {places.sharedTempDir, inTemp},
    };
    for (const auto& c : candidates) {
        const QString folder = usableFolder(c.base, c.name, socketName);
        if (!folder.isEmpty())
            return folder;
    }
    return QString();
}

QString instanceAddress(const QString& serverName)
{
    const QString socketName = instanceSocketName(serverName);
    const InstancePlaces places{qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(),
                                qEnvironmentVariable("HOME"), QStringLiteral("/tmp")};
    const QString folder = instanceFolderIn(places, socketName);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + socketName;
}

void Application::connectInstanceSignals()
{
    const auto unique = Qt::UniqueConnection;
    connect(&m_socket, &QLocalSocket::connected, this, &Application::socketConnected, unique);
    connect(&m_socket, &QLocalSocket::disconnected, this, &Application::socketDisconnected, unique);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &Application::socketError, unique);
    connect(&m_socket, &QLocalSocket::bytesWritten, this, &Application::socketWritten, unique);
    connect(&m_socket, &QLocalSocket::readyRead, this, &Application::socketReading, unique);
    connect(&m_server, &QLocalServer::newConnection, this, &Application::newInstanceConnected, unique);
    connect(&m_replyTimer, &QTimer::timeout, this, &Application::replyTimedOut, unique);
}

QString Application::serverAddress() const { return instanceAddress(m_serverName); }

void Application::connectToRunningInstance() { m_socket.connectToServer(serverAddress(), QIODevice::ReadWrite); }

void Application::socketConnected()
{
    LOG(INFO) << "Application Info: socket connected, this is not the first application instance, sending show "
                 "command..";
    m_commandSent = true;
    const QString command = QStringLiteral("CMD:show;");
    LOG(INFO) << "Application Info: writing commands " << command.toStdString();
    m_socket.write(command.toLocal8Bit());
    // A running instance that takes the connection but never answers does not keep this one.
    m_replyTimer.setSingleShot(true);
    m_replyTimer.start(kReplyTimeoutMs);
}

void Application::replyTimedOut()
{
    LOG(INFO) << "Application Error: no response to the show command in " << kReplyTimeoutMs / 1000
              << " seconds, quiting..";
    quitApplication();
}

void Application::socketDisconnected()
{
    if (!m_commandSent || m_replyReceived)
        return;
    LOG(INFO) << "Application Error: socket disconnected before command response received, quiting..";
    quitApplication();
}

void Application::socketWritten(qint64)
{
    if (m_socket.state() != QLocalSocket::ConnectedState) {
        LOG(INFO) << "Application Error: socket is not connected " << int(m_socket.state());
        return;
    }
    if (m_socket.bytesToWrite() == 0)
        LOG(INFO) << "Application Info: show command written, waiting response..";
}

void Application::socketReading()
{
    if (m_socket.state() != QLocalSocket::ConnectedState) {
        LOG(INFO) << "Application Error: socket is not connected " << int(m_socket.state());
        return;
    }
    m_replyBuffer += QString::fromUtf8(m_socket.readAll());
    if (m_replyReceived)
        return;
    static const QRegularExpression reply(QStringLiteral("RES:(\\d+);"));
    const QRegularExpressionMatch match = reply.match(m_replyBuffer);
    if (!match.hasMatch())
        return;
    bool isNumber = false;
    quint64 pid = match.captured(1).toULongLong(&isNumber);
    if (!isNumber)
        pid = 0;
    m_replyReceived = true;
    m_replyTimer.stop();
    psActivateProcess(pid);
    LOG(INFO) << "Application Info: show command response received, pid = " << pid << ", activating and quiting..";
    quitApplication();
}

void Application::socketError(QLocalSocket::LocalSocketError error)
{
    if (m_commandSent) {
        LOG(INFO) << "Application Error: could not write show command, error " << int(error) << ", quiting..";
        quitApplication();
        return;
    }
    // This process is the running instance already.
    if (m_server.isListening())
        return;
    becomeRunningInstance(error);
}

void Application::becomeRunningInstance(QLocalSocket::LocalSocketError error)
{
    m_socket.close();
    const QString address = serverAddress();
    if (address.isEmpty()) {
        // The user hears of it: a second start will run a second program.
        reportFailure(QStringLiteral("Application Error: no private folder for the local socket, starting app "
                                     "without server: another start will not find this one.."));
        startApp();
        return;
    }
    // One process at a time decides, so two that start together never both listen, and a file is
    // removed only when no instance answers on it.
    const QString lockPath = address + QStringLiteral(".lock");
    QLockFile decision(lockPath);
    if (!decision.tryLock(kDecisionLockMs)) {
        LOG(INFO) << "Application Error: could not lock " << lockPath.toStdString() << ", error "
                  << int(decision.error()) << ", quiting..";
        quitApplication();
        return;
    }
    QLocalSocket probe;
    probe.connectToServer(address);
    if (probe.waitForConnected(kProbeMs)) {
        // An instance started since this one tried: it is the running instance.
        probe.abort();
        decision.unlock();
        QTimer::singleShot(0, this, &Application::connectToRunningInstance);
        return;
    }
    const QLocalSocket::LocalSocketError found = probe.error();
    if (error == QLocalSocket::ServerNotFoundError)
        LOG(INFO) << "Application Info: this is the only instance of Velmora, starting server and app..";
    else
        LOG(INFO) << "Application Info: socket connect error " << int(error) << ", starting server and app..";
    // A file nobody listens on is what an instance that ended without closing it leaves behind.
    if (found == QLocalSocket::ConnectionRefusedError || found == QLocalSocket::ServerNotFoundError)
        QLocalServer::removeServer(address);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    const bool listening = m_server.listen(address);
    decision.unlock();
    if (!listening) {
        LOG(INFO) << "Application Error: failed to start listening to " << m_serverName.toStdString()
                  << " server, error " << int(m_server.serverError());
        quitApplication();
        return;
    }
    startApp();
}

void Application::newInstanceConnected()
{
    LOG(INFO) << "Application Info: new local socket connected";
    while (QLocalSocket* client = m_server.nextPendingConnection()) {
        // The newest is the one a start is waiting on; the oldest has most likely gone already.
        if (m_clients.size() >= kMaxClients)
            dropClient(0, "too many clients");
        // What Qt takes from the socket stays bounded; the client waits while it is full.
        client->setReadBufferSize(kReadChunkBytes);
        m_clients.append(qMakePair(client, QByteArray()));
        connect(client, &QLocalSocket::readyRead, this, &Application::readClients);
        connect(client, &QLocalSocket::disconnected, this, &Application::removeClients);
    }
}

void Application::readClients()
{
    bool show = false;
    for (int i = 0; i < m_clients.size();) {
        if (const char* broken = serveClient(m_clients[i], &show))
            dropClient(i, broken);
        else
            ++i;
    }
    // However many asked, the window comes forward once.
    if (show)
        handleCommand(QStringLiteral("show"));
}

void Application::dropClient(int index, const char* reason)
{
    LOG(INFO) << "Application Error: local socket client dropped: " << reason;
    QLocalSocket* client = m_clients.takeAt(index).first;
    disconnect(client, nullptr, this, nullptr);
    client->abort();
    client->deleteLater();
}

const char* Application::serveClient(QPair<QLocalSocket*, QByteArray>& entry, bool* show)
{
    QLocalSocket* client = entry.first;
    QByteArray& bytes = entry.second;
    bytes += client->readAll();
    if (bytes.isEmpty())
        return nullptr;
    const QByteArray reply = QStringLiteral("RES:%1;").arg(QCoreApplication::applicationPid()).toUtf8();
    QByteArray replies;
    int unknown = 0;
    // Segments end at the byte ';' and are decoded whole, so a character is never cut apart.
    int position = 0;
    for (int end; (end = bytes.indexOf(';', position)) >= 0; position = end + 1) {
        if (end - position > kMaxSegmentBytes)
            return "segment too long";
        const QString segment = QString::fromLocal8Bit(bytes.constData() + position, end - position);
        if (segment.startsWith(QLatin1String(kCommandPrefix))) {
            const QString command = segment.mid(int(sizeof kCommandPrefix) - 1);
            if (command == QLatin1String("show"))
                *show = true;
            else
                handleCommand(command);
            replies += reply;
        } else if (++unknown <= kUnknownLoggedPerRead) {
            LOG(INFO) << "Application Error: unknown command " << loggedSegment(segment) << " passed in local socket";
        }
    }
    if (unknown > kUnknownLoggedPerRead)
        LOG(INFO) << "Application Error: " << unknown - kUnknownLoggedPerRead
                  << " more unknown commands passed in local socket";
    // The bytes after the last ';' wait for the rest.
    bytes.remove(0, position);
    if (bytes.size() > kMaxSegmentBytes)
        return "segment too long";
    if (!replies.isEmpty())
        client->write(replies);
    if (client->bytesToWrite() > kMaxUnreadReplyBytes)
        return "answers not read";
    return nullptr;
}

void Application::removeClients()
{
    LOG(INFO) << "Application Info: remove clients slot called, clients " << m_clients.size();
    QList<QLocalSocket*> removed;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->first->state() != QLocalSocket::ConnectedState) {
            LOG(INFO) << "Application Info: removing client";
            removed.append(it->first);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
    // The signal that called this slot may come from one of them.
    for (QLocalSocket* client : removed)
        client->deleteLater();
}

void Application::handleCommand(const QString& command)
{
    if (command != QLatin1String("show"))
        return;
    QWidget* window = m_mainWindow;
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    // Out of the tray first: a hidden window cannot be raised or activated.
    window->show();
    window->raise();
    window->activateWindow();
}

void psActivateProcess(quint64 pid)
{
    if (pid == 0)
        return;
    EnumWindows(activateProcessEnumProc, reinterpret_cast<LPARAM>(&pid));
}

BOOL CALLBACK activateProcessEnumProc(HWND hwnd, LPARAM lParam)
{
    const quint64 pid = *reinterpret_cast<const quint64*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != pid)
        return TRUE;
    WCHAR title[1024];
    const int length = GetWindowTextW(hwnd, title, 1024);
    if (length <= 0 || length >= 1024)
        return TRUE;
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("Tarquil助手(\\s*\\(\\d+\\))?")));
    if (!pattern.match(QString::fromUtf16(title, length)).hasMatch())
        return TRUE;
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    return FALSE;
}
