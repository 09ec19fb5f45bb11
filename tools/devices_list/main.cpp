// tm_devices_list: loads the vendor libraries the way the program does and prints the device
// list as JSON: {"Version": {device object}, ...}. Exit status 1 when "libvq.dll" cannot be loaded.
#include "devices/device_functions.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLibrary probe(QStringLiteral("libvq.dll"));
    if (!probe.load()) {
        std::fprintf(stderr, "libvq.dll: %s\n", qPrintable(probe.errorString()));
        return 1;
    }
    DeviceFunctions functions;
    const QMap<QString, QJsonObject> devices = functions.deviceList();
    QJsonObject out;
    for (auto it = devices.constBegin(); it != devices.constEnd(); ++it)
        out.insert(it.key(), it.value());
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Indented).constData(), stdout);
    return 0;
}
