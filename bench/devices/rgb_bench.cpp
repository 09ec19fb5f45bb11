// The per-key colour report of all 108 keys against the bare vqNotifyRGBDevice call.
#include "bench_side_by_side.h"
#include "device_bench.h"

#include "devices/device_data_handler.h"

#include <QFile>
#include <QStringList>

#include <pugixml.hpp>

#include <cstring>

int main()
{
    DeviceBench bench;
    device_data_handler handler;
    handler.loadDriverXml(QStringLiteral(":/drive/K1.0"));

    // One item per key row of the keyboard's description, each with its own colour.
    QFile file(QStringLiteral(":/drive/K1.0"));
    file.open(QIODevice::ReadOnly);
    const QByteArray xml = file.readAll();
    pugi::xml_document doc;
    doc.load_buffer(xml.constData(), size_t(xml.size()));
    QStringList items;
    for (pugi::xml_node row = doc.document_element().find_child_by_attribute("Key", "vkCode", "65"); row;
         row = row.next_sibling("Key"))
        items << QString::fromUtf8(row.attribute("Name").value()) + QStringLiteral("#%1").arg(items.size() * 0x020201, 6, 16, QLatin1Char('0'));
    if (items.size() != 108 || !handler.writeRgbDevice(QStringLiteral("K1.0"), QStringLiteral("K1.0"), items)) {
        std::fprintf(stderr, "the colour report was not sent\n");
        return 2;
    }

    const auto notify = bench.hexlane<vqNotifyRGBDevice_t>("vqNotifyRGBDevice");
    uint8_t version[VQ_RGB_VERSION_SIZE] = {'K', '1', '.', '0'};
    uint8_t report[VQ_RGB_REPORT_SIZE];
    std::memset(report, 0x11, sizeof report);
    return bench::compare("Per-key colour report, 108 keys",
                          {"vqNotifyRGBDevice", [&] { notify(version, report, VQ_RGB_VERSION_SIZE); }},
                          {"device_data_handler::writeRgbDevice", [&] {
                               handler.writeRgbDevice(QStringLiteral("K1.0"), QStringLiteral("K1.0"), items);
                           }},
                          30);
}
