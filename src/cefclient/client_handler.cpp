#include "cefclient/client_handler.h"

#include "include/base/cef_logging.h"

#include <QCursor>
#include <QPoint>

ClientHandler* g_handler = nullptr;

ClientHandler::ClientHandler() = default;
ClientHandler::~ClientHandler() = default;

void ClientHandler::SendDevicesChanged(int code)
{
    LOG(INFO) << "devicesChanged";
    sendToMainBrowser({QStringLiteral("devicesChanged"), QVariantList{code}});
}

void ClientHandler::SendDeviceInput(const QString& hex)
{
    const QChar d = hex.size() > 3 ? hex.at(3) : QChar();
    if (d == QLatin1Char('5')) {
        sendToMainBrowser({QStringLiteral("keyDown"), QVariantList()});
    } else if (d == QLatin1Char('8')) {
        const QPoint pos = QCursor::pos();
        sendToMainBrowser({QStringLiteral("mouseMove"),
                           QVariantList{QString::number(pos.x()) + QLatin1Char(',') + QString::number(pos.y())}});
    }
}

QList<ClientHandler::PageEvent> ClientHandler::sentEvents() const
{
    QMutexLocker lock(&m_lock);
    return m_sent;
}

void ClientHandler::sendToMainBrowser(const PageEvent& event)
{
    QMutexLocker lock(&m_lock);
    m_sent.append(event);
}
