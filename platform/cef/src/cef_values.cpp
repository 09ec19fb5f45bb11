#include "include/cef_process_message.h"
#include "include/cef_values.h"

#include "cef_internal.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace cef_internal {
CefRefPtr<CefListValue> CopyList(CefRefPtr<CefListValue> list, bool readOnly);
CefRefPtr<CefDictionaryValue> CopyDictionary(CefRefPtr<CefDictionaryValue> dict, bool readOnly);
} // namespace cef_internal

namespace {

using cef_internal::ObjectCounter;

class BinaryImpl : public CefBinaryValue {
public:
    BinaryImpl(const void* data, size_t size)
        : data_(static_cast<const char*>(data), static_cast<const char*>(data) + (data ? size : 0))
    {
    }
    bool IsValid() override { return true; }
    bool IsOwned() override { return false; }
    CefRefPtr<CefBinaryValue> Copy() override { return new BinaryImpl(data_.data(), data_.size()); }
    size_t GetSize() override { return data_.size(); }
    size_t GetData(void* buffer, size_t buffer_size, size_t offset) override
    {
        if (!buffer || offset >= data_.size())
            return 0;
        const size_t n = std::min(buffer_size, data_.size() - offset);
        std::memcpy(buffer, data_.data() + offset, n);
        return n;
    }

private:
    std::vector<char> data_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(BinaryImpl);
};

struct Item {
    CefValueType type = VTYPE_NULL;
    bool b = false;
    int i = 0;
    double d = 0;
    CefString s;
    CefRefPtr<CefBinaryValue> bin;
    CefRefPtr<CefDictionaryValue> dict;
    CefRefPtr<CefListValue> list;
};

// An item of one type holding `value`, as the typed setters store it.
template <typename T>
Item makeItem(CefValueType type, T Item::*field, const T& value)
{
    Item it;
    it.type = type;
    it.*field = value;
    return it;
}

// True when target is container itself or is held anywhere inside it. Inserting container
// into target would then close a cycle, which could never be freed nor copied.
bool holds(CefBase* container, const CefBase* target);

Item copyItem(const Item& it, bool readOnly)
{
    Item c = it;
    if (it.bin)
        c.bin = it.bin->Copy();
    if (it.dict)
        c.dict = cef_internal::CopyDictionary(it.dict, readOnly);
    if (it.list)
        c.list = cef_internal::CopyList(it.list, readOnly);
    return c;
}

class ListImpl : public CefListValue {
public:
    explicit ListImpl(bool readOnly = false) : readOnly_(readOnly) {}

    bool IsValid() override { return true; }
    bool IsOwned() override { return false; }
    bool IsReadOnly() override { return readOnly_; }
    CefRefPtr<CefListValue> Copy() override { return CopyAs(false); }
    CefRefPtr<CefListValue> CopyAs(bool readOnly)
    {
        CefRefPtr<ListImpl> c = new ListImpl(false);
        c->items_.reserve(items_.size());
        for (const auto& it : items_)
            c->items_.push_back(copyItem(it, readOnly));
        c->readOnly_ = readOnly;
        return c.get();
    }
    bool SetSize(size_t size) override
    {
        if (readOnly_)
            return false;
        items_.resize(size);
        return true;
    }
    size_t GetSize() override { return items_.size(); }
    bool Clear() override
    {
        if (readOnly_)
            return false;
        items_.clear();
        return true;
    }
    bool Remove(int index) override
    {
        if (readOnly_ || !valid(index))
            return false;
        items_.erase(items_.begin() + index);
        return true;
    }
    CefValueType GetType(int index) override { return valid(index) ? items_[index].type : VTYPE_INVALID; }
    bool GetBool(int index) override { return valid(index) && items_[index].type == VTYPE_BOOL && items_[index].b; }
    int GetInt(int index) override { return valid(index) && items_[index].type == VTYPE_INT ? items_[index].i : 0; }
    double GetDouble(int index) override
    {
        if (!valid(index))
            return 0;
        if (items_[index].type == VTYPE_DOUBLE)
            return items_[index].d;
        if (items_[index].type == VTYPE_INT)
            return items_[index].i;
        return 0;
    }
    CefString GetString(int index) override
    {
        return valid(index) && items_[index].type == VTYPE_STRING ? items_[index].s : CefString();
    }
    CefRefPtr<CefBinaryValue> GetBinary(int index) override { return valid(index) ? items_[index].bin : nullptr; }
    CefRefPtr<CefDictionaryValue> GetDictionary(int index) override
    {
        return valid(index) ? items_[index].dict : nullptr;
    }
    CefRefPtr<CefListValue> GetList(int index) override { return valid(index) ? items_[index].list : nullptr; }

    bool SetNull(int index) override { return set(index, Item()); }
    bool SetBool(int index, bool value) override { return set(index, makeItem(VTYPE_BOOL, &Item::b, value)); }
    bool SetInt(int index, int value) override { return set(index, makeItem(VTYPE_INT, &Item::i, value)); }
    bool SetDouble(int index, double value) override { return set(index, makeItem(VTYPE_DOUBLE, &Item::d, value)); }
    bool SetString(int index, const CefString& value) override
    {
        return set(index, makeItem(VTYPE_STRING, &Item::s, value));
    }
    bool SetBinary(int index, CefRefPtr<CefBinaryValue> value) override
    {
        if (!value)
            return false;
        return set(index, makeItem(VTYPE_BINARY, &Item::bin, value));
    }
    bool SetDictionary(int index, CefRefPtr<CefDictionaryValue> value) override
    {
        if (!value || holds(value.get(), this))
            return false;
        return set(index, makeItem(VTYPE_DICTIONARY, &Item::dict, value));
    }
    bool SetList(int index, CefRefPtr<CefListValue> value) override
    {
        if (!value || holds(value.get(), this))
            return false;
        return set(index, makeItem(VTYPE_LIST, &Item::list, value));
    }
    const std::vector<Item>& Items() const { return items_; }
    // Read-only from now on, with every container it holds.
    void Seal();

private:
    bool valid(int index) const { return index >= 0 && size_t(index) < items_.size(); }
    bool set(int index, Item it)
    {
        if (readOnly_ || index < 0)
            return false;
        if (size_t(index) >= items_.size()) {
            if (size_t(index) >= items_.capacity())
                items_.reserve(std::max<size_t>({size_t(index) + 1, 2 * items_.capacity(), 4}));
            items_.resize(size_t(index) + 1);
        }
        items_[index] = std::move(it);
        return true;
    }

    std::vector<Item> items_;
    bool readOnly_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(ListImpl);
};

class DictionaryImpl : public CefDictionaryValue {
public:
    explicit DictionaryImpl(bool readOnly = false) : readOnly_(readOnly) {}

    bool IsValid() override { return true; }
    bool IsOwned() override { return false; }
    bool IsReadOnly() override { return readOnly_; }
    CefRefPtr<CefDictionaryValue> Copy(bool exclude_empty_children) override
    {
        CefRefPtr<DictionaryImpl> c = CopyAs(false);
        if (exclude_empty_children) {
            for (auto it = c->items_.begin(); it != c->items_.end();) {
                const bool empty = (it->second.list && it->second.list->GetSize() == 0) ||
                                   (it->second.dict && it->second.dict->GetSize() == 0);
                it = empty ? c->items_.erase(it) : std::next(it);
            }
        }
        return c.get();
    }
    CefRefPtr<DictionaryImpl> CopyAs(bool readOnly)
    {
        CefRefPtr<DictionaryImpl> c = new DictionaryImpl(false);
        for (const auto& it : items_)
            c->items_[it.first] = copyItem(it.second, readOnly);
        c->readOnly_ = readOnly;
        return c;
    }
    size_t GetSize() override { return items_.size(); }
    bool Clear() override
    {
        if (readOnly_)
            return false;
        items_.clear();
        return true;
    }
    bool HasKey(const CefString& key) override { return items_.count(key) > 0; }
    bool GetKeys(KeyList& keys) override
    {
        keys.clear();
        for (const auto& it : items_)
            keys.push_back(it.first);
        return true;
    }
    bool Remove(const CefString& key) override { return !readOnly_ && items_.erase(key) > 0; }
    CefValueType GetType(const CefString& key) override
    {
        auto it = items_.find(key);
        return it == items_.end() ? VTYPE_INVALID : it->second.type;
    }
    bool GetBool(const CefString& key) override
    {
        const Item* it = find(key);
        return it && it->type == VTYPE_BOOL && it->b;
    }
    int GetInt(const CefString& key) override
    {
        const Item* it = find(key);
        return it && it->type == VTYPE_INT ? it->i : 0;
    }
    double GetDouble(const CefString& key) override
    {
        const Item* it = find(key);
        if (!it)
            return 0;
        return it->type == VTYPE_DOUBLE ? it->d : it->type == VTYPE_INT ? it->i : 0;
    }
    CefString GetString(const CefString& key) override
    {
        const Item* it = find(key);
        return it && it->type == VTYPE_STRING ? it->s : CefString();
    }
    CefRefPtr<CefBinaryValue> GetBinary(const CefString& key) override
    {
        const Item* it = find(key);
        return it ? it->bin : nullptr;
    }
    CefRefPtr<CefDictionaryValue> GetDictionary(const CefString& key) override
    {
        const Item* it = find(key);
        return it ? it->dict : nullptr;
    }
    CefRefPtr<CefListValue> GetList(const CefString& key) override
    {
        const Item* it = find(key);
        return it ? it->list : nullptr;
    }
    bool SetNull(const CefString& key) override { return set(key, Item()); }
    bool SetBool(const CefString& key, bool value) override { return set(key, makeItem(VTYPE_BOOL, &Item::b, value)); }
    bool SetInt(const CefString& key, int value) override { return set(key, makeItem(VTYPE_INT, &Item::i, value)); }
    bool SetDouble(const CefString& key, double value) override
    {
        return set(key, makeItem(VTYPE_DOUBLE, &Item::d, value));
    }
    bool SetString(const CefString& key, const CefString& value) override
    {
        return set(key, makeItem(VTYPE_STRING, &Item::s, value));
    }
    bool SetBinary(const CefString& key, CefRefPtr<CefBinaryValue> value) override
    {
        if (!value)
            return false;
        return set(key, makeItem(VTYPE_BINARY, &Item::bin, value));
    }
    bool SetDictionary(const CefString& key, CefRefPtr<CefDictionaryValue> value) override
    {
        if (!value || holds(value.get(), this))
            return false;
        return set(key, makeItem(VTYPE_DICTIONARY, &Item::dict, value));
    }
    bool SetList(const CefString& key, CefRefPtr<CefListValue> value) override
    {
        if (!value || holds(value.get(), this))
            return false;
        return set(key, makeItem(VTYPE_LIST, &Item::list, value));
    }
    const std::map<CefString, Item>& Items() const { return items_; }
    void Seal();

private:
    const Item* find(const CefString& key) const
    {
        auto it = items_.find(key);
        return it == items_.end() ? nullptr : &it->second;
    }
    bool set(const CefString& key, Item it)
    {
        if (readOnly_)
            return false;
        items_[key] = std::move(it);
        return true;
    }

    std::map<CefString, Item> items_;
    bool readOnly_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(DictionaryImpl);
};

void sealItem(const Item& it);

void ListImpl::Seal()
{
    readOnly_ = true;
    for (const Item& it : items_)
        sealItem(it);
}

void DictionaryImpl::Seal()
{
    readOnly_ = true;
    for (const auto& it : items_)
        sealItem(it.second);
}

void sealItem(const Item& it)
{
    if (auto* list = dynamic_cast<ListImpl*>(it.list.get()))
        list->Seal();
    if (auto* dict = dynamic_cast<DictionaryImpl*>(it.dict.get()))
        dict->Seal();
}

bool holds(CefBase* container, const CefBase* target)
{
    const void* wanted = dynamic_cast<const void*>(target);
    std::vector<CefBase*> pending{container};
    std::set<const void*> seen;
    auto visit = [&pending](const Item& it) {
        if (it.list)
            pending.push_back(it.list.get());
        if (it.dict)
            pending.push_back(it.dict.get());
    };
    while (!pending.empty()) {
        CefBase* value = pending.back();
        pending.pop_back();
        const void* identity = dynamic_cast<const void*>(value);
        if (identity == wanted)
            return true;
        if (!seen.insert(identity).second)
            continue; // shared by two parents: walked already
        if (auto* list = dynamic_cast<ListImpl*>(value)) {
            for (const Item& it : list->Items())
                visit(it);
        } else if (auto* dict = dynamic_cast<DictionaryImpl*>(value)) {
            for (const auto& it : dict->Items())
                visit(it.second);
        }
    }
    return false;
}

class ProcessMessageImpl : public CefProcessMessage {
public:
    ProcessMessageImpl(const CefString& name, CefRefPtr<CefListValue> args, bool readOnly)
        : name_(name), args_(args), readOnly_(readOnly)
    {
    }
    bool IsValid() override { return true; }
    bool IsReadOnly() override { return readOnly_; }
    CefRefPtr<CefProcessMessage> Copy() override
    {
        return new ProcessMessageImpl(name_, cef_internal::CopyList(args_, false), false);
    }
    CefString GetName() override { return name_; }
    CefRefPtr<CefListValue> GetArgumentList() override { return args_; }
    void Seal()
    {
        readOnly_ = true;
        if (auto* list = dynamic_cast<ListImpl*>(args_.get()))
            list->Seal();
    }

private:
    const CefString name_;
    const CefRefPtr<CefListValue> args_;
    bool readOnly_;
    ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(ProcessMessageImpl);
};

} // namespace

namespace cef_internal {

CefRefPtr<CefListValue> CopyList(CefRefPtr<CefListValue> list, bool readOnly)
{
    if (auto* impl = dynamic_cast<ListImpl*>(list.get()))
        return impl->CopyAs(readOnly);
    return new ListImpl(readOnly);
}

CefRefPtr<CefDictionaryValue> CopyDictionary(CefRefPtr<CefDictionaryValue> dict, bool readOnly)
{
    if (auto* impl = dynamic_cast<DictionaryImpl*>(dict.get()))
        return impl->CopyAs(readOnly).get();
    return new DictionaryImpl(readOnly);
}

// The copy a receiver gets: deep and read-only.
CefRefPtr<CefProcessMessage> CopyMessageForDelivery(CefRefPtr<CefProcessMessage> message)
{
    return new ProcessMessageImpl(message->GetName(), CopyList(message->GetArgumentList(), true), true);
}

CefRefPtr<CefProcessMessage> SealMessage(CefRefPtr<CefProcessMessage> message)
{
    auto* impl = dynamic_cast<ProcessMessageImpl*>(message.get());
    if (!impl)
        return CopyMessageForDelivery(message);
    impl->Seal();
    return message;
}

} // namespace cef_internal

CefRefPtr<CefBinaryValue> CefBinaryValue::Create(const void* data, size_t data_size)
{
    return new BinaryImpl(data, data_size);
}

CefRefPtr<CefDictionaryValue> CefDictionaryValue::Create() { return new DictionaryImpl(false); }

CefRefPtr<CefListValue> CefListValue::Create() { return new ListImpl(false); }

CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const CefString& name)
{
    return new ProcessMessageImpl(name, new ListImpl(false), false);
}
