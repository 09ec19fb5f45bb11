// The runtime layer's values: an input is a sequence of operations on a few lists, dictionaries,
// binary values and process messages, nesting them in one another. Checked: no value ever holds
// itself at any depth, a copy is deep and equal to its source, and once everything is released
// no value is left alive.
#include "fuzz_check.h"
#include "fuzz_input.h"

#include "cef_test/cef_test_host.h"
#include "include/cef_process_message.h"
#include "include/cef_values.h"

#include <set>
#include <string>

namespace {

const int kSlots = 4;
const char* const kKeys[] = {"a", "b", "c", ""};

struct Pool {
    CefRefPtr<CefListValue> lists[kSlots];
    CefRefPtr<CefDictionaryValue> dicts[kSlots];
    CefRefPtr<CefBinaryValue> binaries[2];
    CefRefPtr<CefProcessMessage> messages[2];
};

const void* identity(CefBase* value) { return dynamic_cast<const void*>(value); }

// The containers being walked and those known to lead to no cycle.
struct Walk {
    std::set<const void*> path;
    std::set<const void*> done;
};

// False when a container is reached again while it is being walked: a cycle.
bool acyclic(CefBase* value, Walk* walk);

template <typename Container, typename Key>
bool acyclicItem(CefRefPtr<Container> c, const Key& key, Walk* walk)
{
    CefRefPtr<CefListValue> l = c->GetList(key);
    CefRefPtr<CefDictionaryValue> d = c->GetDictionary(key);
    return (!l || acyclic(l.get(), walk)) && (!d || acyclic(d.get(), walk));
}

bool acyclic(CefBase* value, Walk* walk)
{
    const void* id = identity(value);
    if (walk->done.count(id))
        return true;
    if (!walk->path.insert(id).second)
        return false;
    bool ok = true;
    if (CefRefPtr<CefListValue> list = dynamic_cast<CefListValue*>(value)) {
        for (int i = 0; ok && i < int(list->GetSize()); ++i)
            ok = acyclicItem(list, i, walk);
    } else if (CefRefPtr<CefDictionaryValue> dict = dynamic_cast<CefDictionaryValue*>(value)) {
        CefDictionaryValue::KeyList keys;
        dict->GetKeys(keys);
        for (size_t i = 0; ok && i < keys.size(); ++i)
            ok = acyclicItem(dict, keys[i], walk);
    }
    walk->path.erase(id);
    walk->done.insert(id);
    return ok;
}

std::string bytesOf(CefRefPtr<CefBinaryValue> binary)
{
    std::string out(binary->GetSize(), '\0');
    FUZZ_CHECK(binary->GetData(&out[0], out.size(), 0) == out.size());
    return out;
}

// Equal contents, and no container shared between the two (a copy is deep).
void checkCopy(CefBase* a, CefBase* b);

template <typename Container, typename Key>
void checkItem(CefRefPtr<Container> a, CefRefPtr<Container> b, const Key& key)
{
    const CefValueType type = a->GetType(key);
    FUZZ_CHECK(b->GetType(key) == type);
    switch (type) {
    case VTYPE_BOOL:
        FUZZ_CHECK(a->GetBool(key) == b->GetBool(key));
        break;
    case VTYPE_INT:
        FUZZ_CHECK(a->GetInt(key) == b->GetInt(key));
        break;
    case VTYPE_DOUBLE:
        FUZZ_CHECK(a->GetDouble(key) == b->GetDouble(key));
        break;
    case VTYPE_STRING:
        FUZZ_CHECK(a->GetString(key) == b->GetString(key));
        break;
    case VTYPE_BINARY:
        FUZZ_CHECK(a->GetBinary(key).get() != b->GetBinary(key).get());
        FUZZ_CHECK(bytesOf(a->GetBinary(key)) == bytesOf(b->GetBinary(key)));
        break;
    case VTYPE_LIST:
        checkCopy(a->GetList(key).get(), b->GetList(key).get());
        break;
    case VTYPE_DICTIONARY:
        checkCopy(a->GetDictionary(key).get(), b->GetDictionary(key).get());
        break;
    default:
        break;
    }
}

void checkCopy(CefBase* a, CefBase* b)
{
    FUZZ_CHECK(a && b && identity(a) != identity(b));
    if (auto* la = dynamic_cast<CefListValue*>(a)) {
        CefRefPtr<CefListValue> lb = dynamic_cast<CefListValue*>(b);
        FUZZ_CHECK(lb && la->GetSize() == lb->GetSize());
        for (int i = 0; i < int(la->GetSize()); ++i)
            checkItem<CefListValue>(la, lb, i);
    } else if (auto* da = dynamic_cast<CefDictionaryValue*>(a)) {
        CefRefPtr<CefDictionaryValue> db = dynamic_cast<CefDictionaryValue*>(b);
        CefDictionaryValue::KeyList ka, kb;
        da->GetKeys(ka);
        FUZZ_CHECK(db && db->GetKeys(kb) && ka == kb);
        for (const CefString& key : ka)
            checkItem<CefDictionaryValue>(da, db, key);
    }
}

void checkAcyclic(Pool& p)
{
    Walk walk;
    for (auto& l : p.lists)
        FUZZ_CHECK(acyclic(l.get(), &walk));
    for (auto& d : p.dicts)
        FUZZ_CHECK(acyclic(d.get(), &walk));
}

// Reads every item once through each getter.
template <typename Container, typename Key>
void readItem(CefRefPtr<Container> c, const Key& key)
{
    c->GetType(key);
    c->GetBool(key);
    c->GetInt(key);
    c->GetDouble(key);
    c->GetString(key);
    if (CefRefPtr<CefBinaryValue> b = c->GetBinary(key)) {
        char buffer[8];
        b->GetData(buffer, sizeof buffer, b->GetSize() / 2);
    }
}

void run(FuzzInput& in, Pool& p)
{
    for (auto& l : p.lists)
        l = CefListValue::Create();
    for (auto& d : p.dicts)
        d = CefDictionaryValue::Create();
    for (auto& b : p.binaries)
        b = CefBinaryValue::Create("xyz", 3);
    for (auto& m : p.messages)
        m = CefProcessMessage::Create("m");

    // Shared containers are copied once per parent: a bound on the nestings keeps copies small.
    int nestings = 0;
    for (int steps = 0; !in.atEnd() && steps < 200 && nestings < 24; ++steps) {
        const int op = in.pick(16);
        CefRefPtr<CefListValue>& list = p.lists[in.pick(kSlots)];
        CefRefPtr<CefDictionaryValue>& dict = p.dicts[in.pick(kSlots)];
        CefRefPtr<CefBinaryValue>& binary = p.binaries[in.pick(2)];
        CefRefPtr<CefProcessMessage>& message = p.messages[in.pick(2)];
        const int index = int(in.pick(12)) - 2; // a few invalid ones
        const CefString key = kKeys[in.pick(4)];
        bool nested = false;
        switch (op) {
        case 0:
            list->SetNull(index);
            list->SetBool(index + 1, in.byte() & 1);
            break;
        case 1:
            list->SetInt(index, int(in.u32()));
            list->SetDouble(index + 1, double(int(in.u32())) / 3);
            break;
        case 2:
            list->SetString(index, in.text());
            list->SetBinary(index + 1, binary);
            break;
        case 3:
            nested = list->SetList(index, p.lists[in.pick(kSlots)]);
            break;
        case 4:
            nested = list->SetDictionary(index, dict);
            break;
        case 5:
            dict->SetNull(key);
            dict->SetBool(kKeys[in.pick(4)], in.byte() & 1);
            dict->SetInt(kKeys[in.pick(4)], int(in.u32()));
            break;
        case 6:
            dict->SetString(key, in.text());
            dict->SetBinary(kKeys[in.pick(4)], binary);
            dict->SetDouble(kKeys[in.pick(4)], double(int(in.u32())) / 7);
            break;
        case 7:
            nested = dict->SetList(key, list);
            break;
        case 8:
            nested = dict->SetDictionary(key, p.dicts[in.pick(kSlots)]);
            break;
        case 9: // take hold of a nested container, to change it or nest it elsewhere
            if (CefRefPtr<CefListValue> l = in.byte() & 1 ? list->GetList(index) : dict->GetList(key))
                list = l;
            if (CefRefPtr<CefDictionaryValue> d = in.byte() & 1 ? list->GetDictionary(index) : dict->GetDictionary(key))
                dict = d;
            break;
        case 10: {
            CefRefPtr<CefListValue> copy = list->Copy();
            checkCopy(list.get(), copy.get());
            CefRefPtr<CefDictionaryValue> dcopy = dict->Copy(false);
            checkCopy(dict.get(), dcopy.get());
            if (in.byte() & 1) {
                list = copy;
                dict = in.byte() & 1 ? dict->Copy(true) : dcopy;
            }
            break;
        }
        case 11:
            list->Remove(index);
            dict->Remove(key);
            if (in.byte() % 8 == 0) {
                list->Clear();
                dict->Clear();
            }
            break;
        case 12:
            list->SetSize(size_t(in.pick(10)));
            break;
        case 13: {
            const std::string data = in.text();
            binary = in.byte() & 1 ? CefBinaryValue::Create(data.data(), data.size()) : binary->Copy();
            break;
        }
        case 14: // a message's arguments are a list like any other
            if (in.byte() & 1) {
                message = in.byte() & 1 ? message->Copy() : CefProcessMessage::Create(in.text());
            } else {
                list = message->GetArgumentList();
            }
            break;
        default:
            for (int i = -1; i <= int(list->GetSize()); ++i)
                readItem(list, i);
            for (const char* k : kKeys)
                readItem(dict, CefString(k));
            break;
        }
        if (nested) {
            ++nestings;
            checkAcyclic(p);
        }
    }
    checkAcyclic(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int before = cef_test::LiveObjectCount();
    {
        FuzzInput in(data, size);
        Pool pool;
        run(in, pool);
    }
    // A value that is still alive here is held by a cycle or was never released.
    FUZZ_CHECK(cef_test::LiveObjectCount() == before);
    return 0;
}
