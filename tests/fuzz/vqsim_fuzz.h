// The simulated "libvq.dll" in the fuzz targets of its device and state files: its controls,
// the entry points a device is read and written through, and files for it in a folder of the
// process's own.
#pragma once

#include "fuzz_check.h"

#include "vq/vq_api.h"
#include "vqsim/vqsim.h"

#include <QByteArray>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

#include <cstring>
#include <string>
#include <vector>

namespace vqsim_fuzz {

struct Library {
    vqDevices_t devices = nullptr;
    vqRead_t read = nullptr;
    vqWrite_t write = nullptr;
    vqReadProp_t readProp = nullptr;
    vqWriteProp_t writeProp = nullptr;

    static const Library& get()
    {
        static const Library lib = [] {
            QLibrary dll(QStringLiteral("libvq.dll"));
            FUZZ_CHECK(dll.load() && VqSim::instance().loaded());
            Library l;
            l.devices = reinterpret_cast<vqDevices_t>(dll.resolve("vqDevices"));
            l.read = reinterpret_cast<vqRead_t>(dll.resolve("vqRead"));
            l.write = reinterpret_cast<vqWrite_t>(dll.resolve("vqWrite"));
            l.readProp = reinterpret_cast<vqReadProp_t>(dll.resolve("vqReadProp"));
            l.writeProp = reinterpret_cast<vqWriteProp_t>(dll.resolve("vqWriteProp"));
            FUZZ_CHECK(l.devices && l.read && l.write && l.readProp && l.writeProp);
            return l;
        }();
        return lib;
    }
};

inline const VqSim& sim() { return VqSim::instance(); }

// A path in the process's own folder.
inline QByteArray filePath(const char* name)
{
    static QTemporaryDir dir;
    return QFile::encodeName(dir.filePath(QString::fromLatin1(name)));
}

inline void writeFile(const QByteArray& path, const uint8_t* data, size_t size)
{
    QFile file(QFile::decodeName(path));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

// The DeviceIds the library lists, at most its twenty records.
inline std::vector<std::u16string> listedIds()
{
    static DeviceInfoList list;
    UsageFilter filter;
    std::memset(&filter, 0, sizeof filter);
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    FUZZ_CHECK(Library::get().devices(filter, &list, VQ_LIST_SIZE) == 0);
    const int count = list.bytes[0] | (list.bytes[1] << 8);
    std::vector<std::u16string> ids;
    for (int i = 0; i < count && i < VQ_MAX_DEVICES; ++i) {
        const uint8_t* p = list.bytes + 2 + i * VQ_RECORD_SIZE + VQ_REC_ID;
        std::u16string id;
        for (int k = 0; k < VQ_REC_ID_UNITS && (p[2 * k] | p[2 * k + 1]); ++k)
            id += char16_t(p[2 * k] | (p[2 * k + 1] << 8));
        ids.push_back(id);
    }
    return ids;
}

inline std::string utf8(const std::u16string& text)
{
    return QString::fromStdU16String(text).toStdString();
}

} // namespace vqsim_fuzz
