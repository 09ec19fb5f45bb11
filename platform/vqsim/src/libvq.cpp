// Simulated "libvq.dll": devices from a device file, their properties and memory, and the
// device-event and device-data callbacks delivered from a thread of the library's own.
//
// Every vqOnDeviceEvent registration is kept and called once per event, in registration order.
// The program's binding acts on one call in five; it registers five times at start-up, so one
// call of each event acts. A further binding (the capture thread's) adds a sixth registration,
// after which the acting call moves by one registration per event.
#define VQSIM_NO_LOADER
#include "vq/vq_api.h"
#include "vqsim/vqsim.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#define VQ_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const int32_t kMemorySize = 0x4000;
// The call log keeps the latest calls only.
const int32_t kCallLogSize = 1000;
const int32_t kFailure = 1;
const int32_t kBadArgument = -1;

struct Device {
    std::string tag;
    std::string version;
    std::string sn;
    std::string mask;
    std::string path; // UTF-8
    std::string id;   // UTF-8
    uint32_t vid = 0;
    uint32_t pid = 0;
    uint16_t usagePage = 0xFFA0;
    std::map<int32_t, std::vector<uint8_t>> props;
    std::map<int32_t, std::vector<uint8_t>> defaultProps;
    std::vector<uint8_t> memory = std::vector<uint8_t>(kMemorySize, 0);
    VqDeviceDataCallback dataCallback = nullptr;
};

struct RgbReport {
    uint8_t version[VQ_RGB_VERSION_SIZE];
    uint8_t report[VQ_RGB_REPORT_SIZE];
};

struct Task {
    bool isEvent = true;
    uint16_t code = 0;
    VqDeviceDataCallback data = nullptr;
    std::vector<uint8_t> bytes;
};

struct Sim {
    std::mutex lock;
    bool initialised = false;
    std::vector<Device> devices;
    std::vector<VqDeviceEventCallback> eventCallbacks;
    std::deque<VqSimCall> calls;
    bool failAny = false;
    std::vector<std::string> failNames;
    std::map<std::string, RgbReport> rgb;
    std::string statePath;

    // Callback thread.
    std::mutex queueLock;
    std::condition_variable queueCond;
    std::condition_variable idleCond;
    std::deque<Task> queue;
    bool running = false; // a callback is being delivered
    bool stop = false;
    std::thread worker;

    ~Sim() { stopWorker(); }

    void stopWorker()
    {
        {
            std::lock_guard<std::mutex> g(queueLock);
            stop = true;
        }
        queueCond.notify_all();
        if (worker.joinable()) {
            if (worker.get_id() == std::this_thread::get_id())
                worker.detach();
            else
                worker.join();
        }
        std::lock_guard<std::mutex> g(queueLock);
        queue.clear();
        running = false;
        stop = false;
        idleCond.notify_all();
    }

    void post(Task task)
    {
        std::lock_guard<std::mutex> g(queueLock);
        queue.push_back(std::move(task));
        if (!worker.joinable())
            worker = std::thread([this] { run(); });
        queueCond.notify_all();
    }

    void run()
    {
        std::unique_lock<std::mutex> g(queueLock);
        for (;;) {
            queueCond.wait(g, [this] { return stop || !queue.empty(); });
            if (stop)
                return;
            Task task = std::move(queue.front());
            queue.pop_front();
            running = true;
            g.unlock();
            deliver(task);
            g.lock();
            running = false;
            if (queue.empty())
                idleCond.notify_all();
        }
    }

    void deliver(const Task& task)
    {
        if (task.isEvent) {
            std::vector<VqDeviceEventCallback> callbacks;
            {
                std::lock_guard<std::mutex> g(lock);
                callbacks = eventCallbacks;
            }
            // Every registration, once per event; no lock is held, the callback may call back in.
            for (VqDeviceEventCallback cb : callbacks)
                cb(task.code);
        } else if (task.data) {
            const uint8_t* report = task.bytes.data();
            task.data(&report, static_cast<int32_t>(task.bytes.size()));
        }
    }

    bool waitIdle(int timeoutMs)
    {
        std::unique_lock<std::mutex> g(queueLock);
        return idleCond.wait_for(g, std::chrono::milliseconds(timeoutMs),
                                 [this] { return queue.empty() && !running; });
    }
};

Sim& sim()
{
    static Sim s;
    return s;
}

// ---- texts ----

std::string utf16ToUtf8(const char16_t* text, size_t maxUnits = 4096)
{
    std::string out;
    if (!text)
        return out;
    for (size_t i = 0; i < maxUnits && text[i]; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        uint8_t b = uint8_t(text[i]);
        uint32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else {
            c = b & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < text.size(); ++k, ++i)
            c = (c << 6) | (uint8_t(text[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<uint8_t> parseTokens(const std::string& text)
{
    std::vector<uint8_t> out;
    std::stringstream ss(text);
    std::string token;
    while (std::getline(ss, token, ',')) {
        token = trim(token);
        if (token.empty())
            continue;
        out.push_back(uint8_t(std::strtoul(token.c_str(), nullptr, 16)));
    }
    return out;
}

std::string hexBytes(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// A whole text as a number in base 10 or 16 from 0 to max; false for anything else (no sign,
// prefix or white space), so that no value can overflow a bounds check.
bool parseNumber(const std::string& text, int base, int64_t max, int64_t* out)
{
    if (text.empty())
        return false;
    int64_t value = 0;
    for (char ch : text) {
        int d = -1;
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        if (d < 0 || d >= base || value > (max - d) / base)
            return false;
        value = value * base + d;
    }
    *out = value;
    return true;
}

// A property index: a decimal number with an optional "-", within 32 bits.
bool parseIndex(const std::string& text, int32_t* out)
{
    const bool minus = !text.empty() && text[0] == '-';
    int64_t value = 0;
    if (!parseNumber(text.substr(minus ? 1 : 0), 10, minus ? -int64_t(INT32_MIN) : INT32_MAX, &value))
        return false;
    *out = int32_t(minus ? -value : value);
    return true;
}

// Pairs of hexadecimal digits to bytes; false for an odd count or a non-digit.
bool unhex(const std::string& text, std::vector<uint8_t>* out)
{
    if (text.size() % 2)
        return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int64_t byte = 0;
        if (!parseNumber(text.substr(i, 2), 16, 0xFF, &byte))
            return false;
        out->push_back(uint8_t(byte));
    }
    return true;
}

// Copies bytes into a device's memory at address; false (nothing copied) when they do not fit.
bool putMemory(Device& d, int64_t address, const std::vector<uint8_t>& bytes)
{
    if (address < 0 || address > kMemorySize || int64_t(bytes.size()) > kMemorySize - address)
        return false;
    std::copy(bytes.begin(), bytes.end(), d.memory.begin() + address);
    return true;
}

void reportSkipped(const char* source, int lineNumber, const std::string& line)
{
    std::fprintf(stderr, "libvq: %s line %d cannot be read; skipped: %s\n", source, lineNumber, line.c_str());
}

// ---- device file ----

// Applies one "Key=Value" line to a device; false for an unknown key or an unreadable value.
bool applyField(Device& d, const std::string& key, const std::string& value)
{
    if (key == "Version")
        d.version = value;
    else if (key == "DeviceId")
        d.id = value;
    else if (key == "DevicePath")
        d.path = value;
    else if (key == "Sn")
        d.sn = value;
    else if (key == "Mask")
        d.mask = value;
    else if (key == "Tag")
        d.tag = value;
    else if (key == "Vid")
        d.vid = uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    else if (key == "Pid")
        d.pid = uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    else if (key == "UsagePage")
        d.usagePage = uint16_t(std::strtoul(value.c_str(), nullptr, 0));
    else if (key.compare(0, 5, "prop.") == 0) {
        std::vector<uint8_t> bytes = parseTokens(value);
        int32_t index = 0;
        if (bytes.size() > size_t(VQ_BLOCK_SIZE) || !parseIndex(key.substr(5), &index))
            return false;
        d.props[index] = bytes;
        d.defaultProps[index] = bytes;
    } else if (key.compare(0, 4, "mem.") == 0) {
        std::string text = key.substr(4);
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
            text.erase(0, 2);
        int64_t address = 0;
        return parseNumber(text, 16, kMemorySize, &address) && putMemory(d, address, parseTokens(value));
    } else {
        return false;
    }
    return true;
}

// Device-file entries: "[device]" starts one, "Key=Value" lines fill it, "#" starts a comment.
// Lines that cannot be read are reported and skipped.
std::vector<Device> parseDeviceText(const std::string& text, bool implicitDevice, const char* source)
{
    std::vector<Device> out;
    if (implicitDevice)
        out.emplace_back();
    std::stringstream ss(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(ss, line)) {
        ++lineNumber;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t == "[device]") {
            out.emplace_back();
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos || out.empty() || !applyField(out.back(), trim(t.substr(0, eq)), trim(t.substr(eq + 1))))
            reportSkipped(source, lineNumber, t);
    }
    return out;
}

std::vector<Device> defaultDevices()
{
    const char* text =
        "[device]\n"
        "Tag=VQ-MOUSE-M10\n"
        "Version=M1.0\n"
        "DeviceId=HID\\VID_1A2C&PID_0E24&MI_01\\7&1A2B3C4D&0&0000\n"
        "DevicePath=\\\\?\\hid#vid_1a2c&pid_0e24&mi_01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}\n"
        "Sn=M100000001\n"
        "Mask=01\n"
        "Vid=0x1A2C\n"
        "Pid=0x0E24\n"
        "UsagePage=0xFFA0\n"
        "prop.40=0x01\n"
        "prop.42=0x01,0x02,0x03,0xff,0x00,0x80,0x04,0x05,0x06,0x00\n"
        "prop.43=0x01,0x08,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00\n"
        "prop.44=0x00,0x03,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00\n"
        "prop.48=0x01\n"
        "prop.50=0x00,0x08,0x00,0x08,0x00,0x00,0x00,0x00\n"
        "prop.51=0x00,0x10,0x00,0x10,0x00,0x00,0x00,0x00\n"
        "prop.52=0x00,0x20,0x00,0x20,0x00,0x00,0x00,0x00\n"
        "prop.53=0x00,0x30,0x00,0x30,0x00,0x00,0x00,0x00\n"
        "prop.54=0x00,0x40,0x00,0x40,0x00,0x00,0x00,0x00\n"
        "[device]\n"
        "Tag=VQ-KEYBOARD-K10\n"
        "Version=K1.0\n"
        "DeviceId=HID\\VID_1A2C&PID_0E30&MI_01\\7&2C3D4E5F&0&0000\n"
        "DevicePath=\\\\?\\hid#vid_1a2c&pid_0e30&mi_01#7&2c3d4e5f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}\n"
        "Sn=K100000001\n"
        "Mask=02\n"
        "Vid=0x1A2C\n"
        "Pid=0x0E30\n"
        "UsagePage=0xFFAA\n"
        "prop.40=0x01\n";
    return parseDeviceText(text, false, "built-in device file");
}

// ---- state file: "prop <id> <index> <bytes>" and "mem <id> <address> <bytes>" lines, the device
// id and the bytes written in hexadecimal ----

void loadState(Sim& s)
{
    if (s.statePath.empty())
        return;
    std::ifstream in(s.statePath);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        std::istringstream ls(line);
        std::string kind, id, where, hex;
        std::vector<uint8_t> idBytes, bytes;
        int64_t address = 0;
        int32_t index = 0;
        ls >> kind >> id >> where >> hex;
        const bool readable = unhex(id, &idBytes) && unhex(hex, &bytes) &&
                              ((kind == "prop" && bytes.size() <= size_t(VQ_BLOCK_SIZE) && parseIndex(where, &index)) ||
                               (kind == "mem" && parseNumber(where, 10, kMemorySize, &address)));
        if (!readable) {
            reportSkipped("state file", lineNumber, line);
            continue;
        }
        const std::string deviceId(idBytes.begin(), idBytes.end());
        for (Device& d : s.devices) {
            if (d.id != deviceId)
                continue;
            if (kind == "prop")
                d.props[index] = bytes;
            else if (!putMemory(d, address, bytes))
                reportSkipped("state file", lineNumber, line);
        }
    }
}

// Writes all of text to the file at path, synced to disk; false (errno set) on any failure.
bool writeWholeFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            errno = error;
            return false;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    return ::close(fd) == 0;
}

// Writes every property and the whole memory of each device, zeros included: the next run starts
// from what the devices hold, not from the device file. The new state goes to a temporary file
// that replaces the state file only once it is written whole; otherwise the earlier state stays.
void saveState(Sim& s)
{
    if (s.statePath.empty())
        return;
    std::ostringstream out;
    for (const Device& d : s.devices) {
        if (d.id.empty())
            continue;
        const std::string id = hexBytes(reinterpret_cast<const uint8_t*>(d.id.data()), d.id.size());
        for (const auto& p : d.props)
            out << "prop " << id << ' ' << p.first << ' ' << hexBytes(p.second.data(), p.second.size()) << '\n';
        const int chunk = 256;
        for (int a = 0; a < kMemorySize; a += chunk)
            out << "mem " << id << ' ' << a << ' ' << hexBytes(d.memory.data() + a, chunk) << '\n';
    }
    const std::string tmp = s.statePath + ".tmp";
    if (writeWholeFile(tmp, out.str()) && std::rename(tmp.c_str(), s.statePath.c_str()) == 0)
        return;
    const int error = errno;
    ::unlink(tmp.c_str());
    std::fprintf(stderr, "libvq: cannot save the state file %s (%s); it keeps the earlier state\n",
                 s.statePath.c_str(), std::strerror(error));
}

std::string readFile(const std::string& path, bool* ok)
{
    std::ifstream in(path, std::ios::binary);
    *ok = bool(in);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void initLocked(Sim& s)
{
    if (s.initialised)
        return;
    s.initialised = true;
    s.devices.clear();
    const char* file = std::getenv("VQSIM_DEVICES");
    if (file && *file) {
        bool ok = false;
        std::string text = readFile(file, &ok);
        if (ok)
            s.devices = parseDeviceText(text, false, "device file");
        else
            std::fprintf(stderr, "libvq: cannot read the device file %s; no devices\n", file);
    } else {
        s.devices = defaultDevices();
    }
    const char* state = std::getenv("VQSIM_STATE");
    s.statePath = state ? state : "";
    loadState(s);
}

Device* findLocked(Sim& s, const char16_t* id)
{
    if (!id || !id[0])
        return nullptr;
    std::string key = utf16ToUtf8(id);
    for (Device& d : s.devices)
        if (d.id == key)
            return &d;
    return nullptr;
}

Device* findLocked(Sim& s, const char* id)
{
    if (!id || !id[0])
        return nullptr;
    for (Device& d : s.devices)
        if (d.id == id)
            return &d;
    return nullptr;
}

// What a call's second argument must hold: the empty text, or any text of the caller's.
enum class Text { Empty, Any };

// One logged call. `failed` is set when the test asked this call to fail.
struct Call {
    Sim& s;
    std::unique_lock<std::mutex> guard;
    VqSimCall entry{};
    bool failed = false;

    Call(const char* name, const char16_t* id, int32_t code = 0, int32_t length = 0, int32_t arg = 0)
        : s(sim()), guard(s.lock)
    {
        initLocked(s);
        std::snprintf(entry.name, sizeof entry.name, "%s", name);
        std::snprintf(entry.id, sizeof entry.id, "%s", utf16ToUtf8(id, 255).c_str());
        entry.code = code;
        entry.length = length;
        entry.arg = arg;
        auto it = std::find(s.failNames.begin(), s.failNames.end(), std::string(name));
        if (it != s.failNames.end()) {
            s.failNames.erase(it);
            failed = true;
        } else if (s.failAny) {
            s.failAny = false;
            failed = true;
        }
    }

    // The device of a per-device call whose fixed arguments (the constant 0x1016 and the second
    // text) are right; null otherwise, after reporting a wrong fixed argument.
    Device* device(const char16_t* id, int32_t constant, const char16_t* text, Text rule)
    {
        if (failed)
            return nullptr;
        if (constant != VQ_DEVICE_CONSTANT)
            return refuse("third argument is not 0x1016");
        if (!text)
            return refuse("second text is null");
        if (rule == Text::Empty && text[0])
            return refuse("second text is not empty");
        return findLocked(s, id);
    }

    Device* refuse(const char* why)
    {
        std::fprintf(stderr, "libvq: %s refused: %s\n", entry.name, why);
        return nullptr;
    }

    int32_t done(int32_t result)
    {
        entry.result = result;
        s.calls.push_back(entry);
        if (s.calls.size() > size_t(kCallLogSize))
            s.calls.pop_front();
        return result;
    }
};

bool badLength(int32_t length) { return length < 0 || length > VQ_BLOCK_SIZE; }

bool badRange(int32_t address, int32_t length)
{
    return badLength(length) || address < 0 || address > kMemorySize - length;
}

} // namespace

// ---- entry points ----

VQ_EXPORT int32_t vqDeviceExist(const char16_t* id)
{
    Call c("vqDeviceExist", id);
    if (c.failed)
        return c.done(kFailure);
    return c.done(findLocked(c.s, id) ? 0 : kFailure);
}

VQ_EXPORT int32_t vqDevices(UsageFilter filter, DeviceInfoList* list, int32_t size)
{
    Call c("vqDevices", nullptr, 0, size);
    if (c.failed || !list || size != VQ_LIST_SIZE)
        return c.done(kBadArgument);
    std::vector<const Device*> listed;
    for (const Device& d : c.s.devices) {
        for (const VqUsagePair& p : filter.pairs) {
            if (p.first == 1 && p.second == d.usagePage) {
                listed.push_back(&d);
                break;
            }
        }
    }
    std::memset(list->bytes, 0, sizeof list->bytes);
    uint16_t count = uint16_t(std::min<size_t>(listed.size(), 0xFFFF));
    list->bytes[0] = uint8_t(count & 0xFF);
    list->bytes[1] = uint8_t(count >> 8);
    for (size_t i = 0; i < listed.size() && i < size_t(VQ_MAX_DEVICES); ++i) {
        const Device& d = *listed[i];
        uint8_t* rec = list->bytes + 2 + i * VQ_RECORD_SIZE;
        auto put = [rec](int32_t offset, const std::string& text, size_t width) {
            std::memcpy(rec + offset, text.data(), std::min(text.size(), width));
        };
        auto put16 = [rec](int32_t offset, const std::string& text) {
            std::u16string u = utf8ToUtf16(text);
            size_t n = std::min<size_t>(u.size(), VQ_REC_ID_UNITS);
            for (size_t k = 0; k < n; ++k) {
                rec[offset + 2 * k] = uint8_t(u[k] & 0xFF);
                rec[offset + 2 * k + 1] = uint8_t(u[k] >> 8);
            }
        };
        auto put32 = [rec](int32_t offset, uint32_t v) {
            for (int k = 0; k < 4; ++k)
                rec[offset + k] = uint8_t(v >> (8 * k));
        };
        put(VQ_REC_TAG, d.tag, VQ_REC_TAG_SIZE);
        put(VQ_REC_VERSION, d.version, VQ_REC_VERSION_SIZE);
        put(VQ_REC_SN, d.sn, VQ_REC_SN_SIZE);
        put(VQ_REC_MASK, d.mask, VQ_REC_MASK_SIZE);
        put32(VQ_REC_VID, d.vid);
        put32(VQ_REC_PID, d.pid);
        put16(VQ_REC_PATH, d.path);
        put16(VQ_REC_ID, d.id);
    }
    return c.done(0);
}

VQ_EXPORT int32_t vqOnDeviceEvent(VqDeviceEventCallback* callback)
{
    Call c("vqOnDeviceEvent", nullptr);
    if (c.failed || !callback || !*callback)
        return c.done(kBadArgument);
    c.s.eventCallbacks.push_back(*callback);
    return c.done(0);
}

VQ_EXPORT int32_t vqonDeviceData(const char16_t* id, const char16_t* path, int32_t constant,
                                 VqDeviceDataCallback* callback)
{
    Call c("vqonDeviceData", id, 0, 0, constant);
    Device* d = c.device(id, constant, path, Text::Any);
    if (!d || !callback || !*callback)
        return c.done(kBadArgument);
    d->dataCallback = *callback;
    return c.done(0);
}

VQ_EXPORT int32_t vqAsk(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* buffer, int32_t size)
{
    Call c("vqAsk", id, 0, size);
    Device* d = c.device(id, constant, text, Text::Any);
    if (!d || !buffer || size < 0 || size > VQ_ASK_SIZE)
        return c.done(kBadArgument);
    // Answer: the record's version and serial texts.
    std::string answer = d->version + ";" + d->sn;
    std::memcpy(buffer, answer.data(), std::min<size_t>(answer.size(), size_t(size)));
    return c.done(0);
}

VQ_EXPORT int32_t vqReset(const char16_t* id, const char16_t* text, int32_t constant, int32_t code, uint8_t* out,
                          int32_t outSize)
{
    Call c("vqReset", id, code, outSize);
    Device* d = c.device(id, constant, text, Text::Empty);
    if (!d || !out || outSize < 0)
        return c.done(kBadArgument);
    if (code == 2) {
        d->props = d->defaultProps;
        saveState(c.s);
    } else if (code != 1) {
        return c.done(kFailure);
    }
    return c.done(0);
}

VQ_EXPORT int32_t vqNotify(const char16_t* id, const char16_t* text, int32_t constant, int32_t code,
                           const uint8_t* bytes, int32_t count)
{
    Call c("vqNotify", id, code, count);
    if (!c.device(id, constant, text, Text::Any) || !bytes || badLength(count))
        return c.done(kBadArgument);
    return c.done(0);
}

VQ_EXPORT int32_t vqRead(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block,
                         int32_t length, int32_t address)
{
    Call c("vqRead", id, 0, length, address);
    Device* d = c.device(id, constant, text, Text::Empty);
    if (!d || !block || badRange(address, length))
        return c.done(kBadArgument);
    std::memcpy(block, d->memory.data() + address, size_t(length));
    return c.done(0);
}

VQ_EXPORT int32_t vqWrite(const char16_t* id, const char16_t* text, int32_t constant, const uint8_t* block,
                          int32_t length, int32_t address)
{
    Call c("vqWrite", id, 0, length, address);
    Device* d = c.device(id, constant, text, Text::Empty);
    if (!d || !block || badRange(address, length))
        return c.done(kBadArgument);
    std::memcpy(d->memory.data() + address, block, size_t(length));
    saveState(c.s);
    return c.done(0);
}

VQ_EXPORT int32_t vqReadProp(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block,
                             int32_t length, int32_t index)
{
    Call c("vqReadProp", id, 0, length, index);
    Device* d = c.device(id, constant, text, Text::Empty);
    if (!d || !block || badLength(length))
        return c.done(kBadArgument);
    auto it = d->props.find(index);
    if (it != d->props.end())
        std::copy_n(it->second.begin(), std::min(it->second.size(), size_t(length)), block);
    return c.done(0);
}

VQ_EXPORT int32_t vqWriteProp(const char16_t* id, const char16_t* text, int32_t constant, const uint8_t* block,
                              int32_t length, int32_t index)
{
    Call c("vqWriteProp", id, 0, length, index);
    Device* d = c.device(id, constant, text, Text::Empty);
    if (!d || !block || badLength(length))
        return c.done(kBadArgument);
    d->props[index].assign(block, block + length);
    saveState(c.s);
    return c.done(0);
}

VQ_EXPORT int32_t vqScriptOut(const char16_t* id, const char16_t* text, int32_t constant, const uint8_t* script,
                              int32_t length)
{
    Call c("vqScriptOut", id, 0, length);
    if (!c.device(id, constant, text, Text::Empty) || !script || badLength(length))
        return c.done(kBadArgument);
    return c.done(0);
}

// Kind 3 writes a serial number of at most `length` bytes; kind 2 clears it and takes exactly 17
// zero bytes.
VQ_EXPORT int32_t vqIDWrite(const char16_t* id, const char16_t* text, int32_t constant, int32_t kind,
                            const uint8_t* data, int32_t length)
{
    Call c("vqIDWrite", id, kind, length);
    Device* d = c.device(id, constant, text, Text::Any);
    if (!d || !data || length < 0 || length > 255)
        return c.done(kBadArgument);
    if (kind == 2 && (length != 17 || std::any_of(data, data + 17, [](uint8_t b) { return b != 0; }))) {
        c.refuse("kind 2 takes 17 zero bytes");
        return c.done(kBadArgument);
    }
    if (kind == 3)
        d->sn.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size_t(length)));
    else if (kind == 2)
        d->sn.clear();
    else
        return c.done(kFailure);
    return c.done(0);
}

VQ_EXPORT int32_t vqRebootRom(const char16_t* id, const char16_t* text, int32_t constant)
{
    Call c("vqRebootRom", id);
    return c.done(c.device(id, constant, text, Text::Empty) ? 0 : kBadArgument);
}

VQ_EXPORT int32_t vqFinishUpdateRom(const char16_t* id, const char16_t* text, int32_t constant)
{
    Call c("vqFinishUpdateRom", id);
    return c.done(c.device(id, constant, text, Text::Empty) ? 0 : kBadArgument);
}

// Firmware image check: the simulation accepts every image.
VQ_EXPORT int32_t vqCheckRom(const char16_t* id, const char16_t* text, int32_t constant, int32_t a, int32_t b)
{
    Call c("vqCheckRom", id, a, 0, b);
    return c.done(c.device(id, constant, text, Text::Empty) ? 0 : kBadArgument);
}

VQ_EXPORT int32_t vqBornRom(const char16_t* id, const char16_t* text, int32_t constant, uint8_t* block, int32_t a,
                            int32_t b)
{
    Call c("vqBornRom", id, a, 0, b);
    return c.done(c.device(id, constant, text, Text::Empty) && block ? 0 : kBadArgument);
}

VQ_EXPORT int32_t vqEraseRom(const char16_t* id, const char16_t* text, int32_t constant)
{
    Call c("vqEraseRom", id);
    return c.done(c.device(id, constant, text, Text::Empty) ? 0 : kBadArgument);
}

// Called by the simulated "Hexlane.dll" for every colour report it receives.
VQ_EXPORT int32_t vqsim_record_rgb(const uint8_t* version, const uint8_t* report, int32_t versionSize)
{
    Call c("vqNotifyRGBDevice", nullptr, 0, versionSize);
    if (c.failed || !version || !report || versionSize != VQ_RGB_VERSION_SIZE)
        return c.done(kBadArgument);
    std::snprintf(c.entry.id, sizeof c.entry.id, "%.*s", int(strnlen(reinterpret_cast<const char*>(version), 14)),
                  reinterpret_cast<const char*>(version));
    RgbReport r;
    std::memcpy(r.version, version, sizeof r.version);
    std::memcpy(r.report, report, sizeof r.report);
    c.s.rgb[std::string(reinterpret_cast<const char*>(version), strnlen(reinterpret_cast<const char*>(version), 14))] = r;
    return c.done(0);
}

// ---- test controls ----

VQ_EXPORT int32_t vqsim_reset(void)
{
    Sim& s = sim();
    s.stopWorker();
    std::lock_guard<std::mutex> g(s.lock);
    s.initialised = false;
    s.eventCallbacks.clear();
    s.calls.clear();
    s.failAny = false;
    s.failNames.clear();
    s.rgb.clear();
    initLocked(s);
    return int32_t(s.devices.size());
}

VQ_EXPORT int32_t vqsim_add_device(const char* entry)
{
    Sim& s = sim();
    int32_t count;
    {
        std::lock_guard<std::mutex> g(s.lock);
        initLocked(s);
        if (!entry)
            return -1;
        std::vector<Device> parsed = parseDeviceText(entry, true, "device entry");
        if (parsed.empty())
            return -1;
        for (Device& d : parsed)
            s.devices.push_back(std::move(d));
        count = int32_t(s.devices.size());
    }
    Task t;
    t.code = 2;
    s.post(t);
    return count;
}

VQ_EXPORT int32_t vqsim_remove_device(const char* deviceId)
{
    Sim& s = sim();
    {
        std::lock_guard<std::mutex> g(s.lock);
        initLocked(s);
        auto it = std::find_if(s.devices.begin(), s.devices.end(),
                               [deviceId](const Device& d) { return deviceId && d.id == deviceId; });
        if (it == s.devices.end())
            return -1;
        s.devices.erase(it);
    }
    Task t;
    t.code = 1;
    s.post(t);
    return 0;
}

VQ_EXPORT int32_t vqsim_emit_event(int32_t code)
{
    Task t;
    t.code = uint16_t(code);
    sim().post(t);
    return 0;
}

VQ_EXPORT int32_t vqsim_emit_data(const char* deviceId, const uint8_t* bytes, int32_t length)
{
    Sim& s = sim();
    Task t;
    t.isEvent = false;
    {
        std::lock_guard<std::mutex> g(s.lock);
        initLocked(s);
        Device* d = findLocked(s, deviceId);
        // A device report is never shorter than 8 bytes.
        if (!d || !d->dataCallback || !bytes || length < 8)
            return -1;
        t.data = d->dataCallback;
    }
    t.bytes.assign(bytes, bytes + length);
    s.post(std::move(t));
    return 0;
}

VQ_EXPORT void vqsim_fail_next(const char* entryPoint)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    if (!entryPoint || !*entryPoint)
        s.failAny = true;
    else
        s.failNames.push_back(entryPoint);
}

VQ_EXPORT int32_t vqsim_call_count(void)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    return int32_t(s.calls.size());
}

VQ_EXPORT int32_t vqsim_call_at(int32_t i, VqSimCall* call)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    if (!call || i < 0 || size_t(i) >= s.calls.size())
        return -1;
    *call = s.calls[size_t(i)];
    return 0;
}

VQ_EXPORT void vqsim_clear_calls(void)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    s.calls.clear();
}

VQ_EXPORT int32_t vqsim_get_prop(const char* deviceId, int32_t index, uint8_t* out, int32_t size)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    initLocked(s);
    Device* d = findLocked(s, deviceId);
    if (!d)
        return -1;
    auto it = d->props.find(index);
    if (it == d->props.end())
        return -1;
    if (out && size > 0)
        std::copy_n(it->second.begin(), std::min(it->second.size(), size_t(size)), out);
    return int32_t(it->second.size());
}

VQ_EXPORT int32_t vqsim_set_prop(const char* deviceId, int32_t index, const uint8_t* bytes, int32_t length)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    initLocked(s);
    Device* d = findLocked(s, deviceId);
    if (!d || (!bytes && length > 0) || badLength(length))
        return -1;
    d->props[index] = std::vector<uint8_t>(bytes, bytes + length);
    return 0;
}

namespace {

// The device of a control call on [address, address + length) of its memory; null for an unknown
// device or a range outside the memory.
Device* memoryRangeLocked(Sim& s, const char* deviceId, int32_t address, int32_t length)
{
    initLocked(s);
    Device* d = findLocked(s, deviceId);
    if (!d || length < 0 || address < 0 || address > kMemorySize - length)
        return nullptr;
    return d;
}

} // namespace

VQ_EXPORT int32_t vqsim_get_memory(const char* deviceId, int32_t address, uint8_t* out, int32_t length)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    Device* d = memoryRangeLocked(s, deviceId, address, length);
    if (!d || !out)
        return -1;
    std::copy_n(d->memory.begin() + address, length, out);
    return 0;
}

VQ_EXPORT int32_t vqsim_set_memory(const char* deviceId, int32_t address, const uint8_t* bytes, int32_t length)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    Device* d = memoryRangeLocked(s, deviceId, address, length);
    if (!d || !bytes)
        return -1;
    std::copy_n(bytes, length, d->memory.begin() + address);
    return 0;
}

VQ_EXPORT int32_t vqsim_last_rgb(const char* version, uint8_t* version14, uint8_t* report1024)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.rgb.find(version ? version : "");
    if (it == s.rgb.end())
        return 0;
    if (version14)
        std::memcpy(version14, it->second.version, sizeof it->second.version);
    if (report1024)
        std::memcpy(report1024, it->second.report, sizeof it->second.report);
    return 1;
}

VQ_EXPORT int32_t vqsim_event_registrations(void)
{
    Sim& s = sim();
    std::lock_guard<std::mutex> g(s.lock);
    return int32_t(s.eventCallbacks.size());
}

VQ_EXPORT int32_t vqsim_wait_idle(int32_t timeoutMs) { return sim().waitIdle(timeoutMs) ? 1 : 0; }

VQ_EXPORT void vqsim_shutdown(void) { sim().stopWorker(); }
