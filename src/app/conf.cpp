#include "app/conf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStringList>

#include <pugixml.hpp>

bool parseConfFile(const QString& path, ConfMap* out, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    QFile file(path);
    if (!file.exists()) {
        why = QStringLiteral("there is no such file");
        return false;
    }
    if (QFileInfo(path).isDir()) {
        why = QStringLiteral("it is a folder");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("it cannot be opened (%1)").arg(file.errorString());
        return false;
    }
    file.close();
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(QFile::encodeName(path).constData());
    if (!parsed) {
        why = QString::fromUtf8(parsed.description());
        if (parsed.status != pugi::status_file_not_found && parsed.status != pugi::status_io_error)
            why += QStringLiteral(" at byte %1").arg(parsed.offset);
        return false;
    }
    ConfMap conf;
    const pugi::xml_node client = doc.child("root").child("client");
    if (!client)
        why = QStringLiteral("no element client below root");
    for (const pugi::xml_attribute& a : client.attributes())
        conf.insert(QString::fromUtf8(a.name()), QString::fromUtf8(a.value()));
    *out = conf;
    return true;
}

void parseDefineText(const QString& text, KeyCodeMap* table)
{
    pugi::xml_document doc;
    const QByteArray utf8 = text.toUtf8();
    if (!doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
            pugi::encoding_utf8))
        return;
    for (const pugi::xml_node& key : doc.child("keyboard").children()) {
        if (key.type() != pugi::node_element)
            continue;
        table->insert(QString::fromUtf8(key.attribute("value").value()).toUpper(),
            QString::fromUtf8(key.attribute("hidCode").value()));
    }
}

QString firstMacAddress()
{
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return iface.hardwareAddress();
    }
    return QString();
}

QString firstIpv4Address()
{
    const QHostAddress local(QHostAddress::LocalHost);
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && a != local)
            return a.toString();
    }
    return QString();
}

QString pageRootFor(const ConfMap& conf, const QString& appDir, const QString& tempDir)
{
    if (conf.value(QStringLiteral("Debug")) == QLatin1String("true"))
        return appDir + QStringLiteral("/template");
    return QDir::toNativeSeparators(tempDir) + QStringLiteral("/template");
}

QString imageSubPathFor(const QString& loadPath)
{
    // A page directly below the prefix is removed too: its images lie beside it.
    static const QRegularExpression page(QStringLiteral("/[^/]*.html"));
    QString path = QLatin1Char('/') + loadPath.mid(32);
    return path.remove(page).mid(1);
}

QSize clientSizeFor(const ConfMap& conf)
{
    const QStringList parts = conf.value(QStringLiteral("ClientSize")).split(QLatin1Char(','));
    auto part = [&](int i, int fallback) {
        if (i >= parts.size())
            return fallback;
        bool ok = false;
        const int v = parts.at(i).trimmed().toInt(&ok);
        return ok && v > 0 ? v : fallback;
    };
    return QSize(part(0, 1000), part(1, 700));
}
