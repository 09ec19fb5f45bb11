#include "include/cef_command_line.h"

#include "cef_internal.h"

#include <algorithm>
#include <mutex>

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

class CommandLineImpl : public CefCommandLine {
public:
    bool IsValid() override { return true; }
    bool IsReadOnly() override { return false; }
    CefRefPtr<CefCommandLine> Copy() override
    {
        std::lock_guard<std::mutex> l(m_);
        CefRefPtr<CommandLineImpl> c = new CommandLineImpl;
        c->program_ = program_;
        c->switches_ = switches_;
        c->order_ = order_;
        c->args_ = args_;
        return c.get();
    }

    void InitFromArgv(int argc, const char* const* argv) override
    {
        // Arguments are bytes; they are kept as the text the other members take and give, so that a
        // switch that is not UTF-8 is found again under the name GetSwitches lists.
        std::vector<std::string> items;
        for (int i = 0; i < argc && argv; ++i)
            items.push_back(CefString(argv[i] ? argv[i] : "").ToString());
        Init(items);
    }

    void InitFromString(const CefString& command_line) override
    {
        // Splits at blanks; double quotes group.
        std::vector<std::string> items;
        std::string cur;
        bool quoted = false, have = false;
        for (char c : command_line.ToString()) {
            if (c == '"') {
                quoted = !quoted;
                have = true;
            } else if ((c == ' ' || c == '\t') && !quoted) {
                if (have)
                    items.push_back(cur);
                cur.clear();
                have = false;
            } else {
                cur.push_back(c);
                have = true;
            }
        }
        if (have)
            items.push_back(cur);
        Init(items);
    }

    void Reset() override
    {
        std::lock_guard<std::mutex> l(m_);
        program_.clear();
        switches_.clear();
        order_.clear();
        args_.clear();
    }

    void GetArgv(std::vector<CefString>& argv) override
    {
        std::lock_guard<std::mutex> l(m_);
        argv.clear();
        argv.push_back(program_);
        for (const auto& name : order_) {
            const std::string& v = switches_[name];
            argv.push_back(v.empty() ? "--" + name : "--" + name + "=" + v);
        }
        for (const auto& a : args_)
            argv.push_back(a);
    }

    CefString GetCommandLineString() override
    {
        std::vector<CefString> argv;
        GetArgv(argv);
        std::string s;
        for (const auto& a : argv) {
            if (!s.empty())
                s += ' ';
            s += a.ToString();
        }
        return s;
    }

    CefString GetProgram() override
    {
        std::lock_guard<std::mutex> l(m_);
        return program_;
    }
    void SetProgram(const CefString& program) override
    {
        std::lock_guard<std::mutex> l(m_);
        program_ = program.ToString();
    }
    bool HasSwitches() override
    {
        std::lock_guard<std::mutex> l(m_);
        return !switches_.empty();
    }
    bool HasSwitch(const CefString& name) override
    {
        std::lock_guard<std::mutex> l(m_);
        return switches_.count(lower(name.ToString())) > 0;
    }
    CefString GetSwitchValue(const CefString& name) override
    {
        std::lock_guard<std::mutex> l(m_);
        auto it = switches_.find(lower(name.ToString()));
        return it == switches_.end() ? CefString() : CefString(it->second);
    }
    void GetSwitches(SwitchMap& switches) override
    {
        std::lock_guard<std::mutex> l(m_);
        switches.clear();
        for (const auto& s : switches_)
            switches[s.first] = s.second;
    }
    void AppendSwitch(const CefString& name) override { AppendSwitchWithValue(name, CefString()); }
    void AppendSwitchWithValue(const CefString& name, const CefString& value) override
    {
        std::lock_guard<std::mutex> l(m_);
        Put(lower(name.ToString()), value.ToString());
    }
    bool HasArguments() override
    {
        std::lock_guard<std::mutex> l(m_);
        return !args_.empty();
    }
    void GetArguments(ArgumentList& arguments) override
    {
        std::lock_guard<std::mutex> l(m_);
        arguments.assign(args_.begin(), args_.end());
    }
    void AppendArgument(const CefString& argument) override
    {
        std::lock_guard<std::mutex> l(m_);
        args_.push_back(argument.ToString());
    }
    void PrependWrapper(const CefString& wrapper) override
    {
        std::lock_guard<std::mutex> l(m_);
        if (!program_.empty())
            args_.insert(args_.begin(), program_);
        program_ = wrapper.ToString();
    }

private:
    void Put(const std::string& name, const std::string& value)
    {
        if (!switches_.count(name))
            order_.push_back(name);
        switches_[name] = value;
    }

    void Init(const std::vector<std::string>& items)
    {
        std::lock_guard<std::mutex> l(m_);
        program_.clear();
        switches_.clear();
        order_.clear();
        args_.clear();
        if (items.empty())
            return;
        program_ = items[0];
        bool switchesDone = false;
        for (size_t i = 1; i < items.size(); ++i) {
            const std::string& a = items[i];
            if (!switchesDone && a == "--") {
                switchesDone = true;
                continue;
            }
            size_t prefix = 0;
            if (!switchesDone && a.size() > 2 && a.compare(0, 2, "--") == 0)
                prefix = 2;
            else if (!switchesDone && a.size() > 1 && a[0] == '-' && a[1] != '-')
                prefix = 1;
            if (prefix == 0) {
                args_.push_back(a);
                continue;
            }
            const std::string body = a.substr(prefix);
            const size_t eq = body.find('=');
            if (eq == std::string::npos)
                Put(lower(body), std::string());
            else
                Put(lower(body.substr(0, eq)), body.substr(eq + 1));
        }
    }

    std::mutex m_;
    std::string program_;
    std::map<std::string, std::string> switches_;
    std::vector<std::string> order_;
    std::vector<std::string> args_;
    cef_internal::ObjectCounter counter_;
    IMPLEMENT_REFCOUNTING(CommandLineImpl);
};

} // namespace

CefRefPtr<CefCommandLine> CefCommandLine::CreateCommandLine() { return new CommandLineImpl; }

CefRefPtr<CefCommandLine> CefCommandLine::GetGlobalCommandLine()
{
    // Never destroyed: it stays readable from any thread until the process ends.
    static CefCommandLine* global = [] {
        CefCommandLine* c = new CommandLineImpl;
        c->AddRef();
        cef_internal::LiveObjects().fetch_sub(1);
        return c;
    }();
    return global;
}
