// The single-instance check at start-up: a running instance answers on the local server, and
// without one this process becomes the running instance.
#include "app/application.h"

#include "include/base/cef_logging.h"

void Application::socketConnected()
{
    LOG(INFO) << "Application Info: socket connected, this is not the first application instance, sending show "
                 "command..";
    m_commandSent = true;
    const QString command = QStringLiteral("CMD:show;");
    LOG(INFO) << "Application Info: writing commands " << command.toStdString();
    m_socket.write(command.toLocal8Bit());
}

void Application::socketDisconnected()
{
    if (!m_commandSent)
        return;
    LOG(INFO) << "Application Error: socket disconnected before command response received, quiting..";
    quitApplication();
}

void Application::socketError(QLocalSocket::LocalSocketError error)
{
    if (m_commandSent) {
        LOG(INFO) << "Application Error: could not write show command, error " << int(error) << ", quiting..";
        quitApplication();
        return;
    }
    if (error == QLocalSocket::ServerNotFoundError)
        LOG(INFO) << "Application Info: this is the only instance of Velmora, starting server and app..";
    else
        LOG(INFO) << "Application Info: socket connect error " << int(error) << ", starting server and app..";
    m_socket.close();
    // A server file left behind by an instance that ended without closing it would refuse the name.
    QLocalServer::removeServer(m_serverName);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_serverName)) {
        LOG(INFO) << "Application Error: failed to start listening to " << m_serverName.toStdString()
                  << " server, error " << int(m_server.serverError());
        quitApplication();
        return;
    }
    startApp();
}
