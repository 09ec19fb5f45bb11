#include "faults.h"

#include "win32sim/faults.h"

#include <map>
#include <mutex>
#include <string>

namespace {

struct Fault {
    DWORD error;
    int callsBefore; // calls that still succeed first
};

struct Faults {
    std::mutex lock;
    std::map<std::string, Fault> next;
};

Faults& faults()
{
    static Faults f;
    return f;
}

} // namespace

bool win32_internal::takeFault(const char* call)
{
    Faults& f = faults();
    std::lock_guard<std::mutex> g(f.lock);
    auto it = f.next.find(call);
    if (it == f.next.end())
        return false;
    if (it->second.callsBefore > 0) {
        --it->second.callsBefore;
        return false;
    }
    SetLastError(it->second.error);
    f.next.erase(it);
    return true;
}

void win32sim::failNextCall(const char* function, DWORD error, int callsBefore)
{
    Faults& f = faults();
    std::lock_guard<std::mutex> g(f.lock);
    f.next[function ? function : ""] = Fault{error, callsBefore};
}

void win32sim::clearFaults()
{
    Faults& f = faults();
    std::lock_guard<std::mutex> g(f.lock);
    f.next.clear();
}
