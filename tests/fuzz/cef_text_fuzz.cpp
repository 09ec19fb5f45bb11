// The runtime layer's text parsers. The first byte chooses what the rest is (its value modulo 4,
// so "0".."3" in a text seed): 0 a text in UTF-8, 1 a command line, 2 an argument vector
// (NUL-separated), 3 a file name extension.
#include "fuzz_check.h"

#include "include/cef_command_line.h"
#include "include/cef_url.h"
#include "include/internal/cef_types_wrappers.h"

#include <QString>

#include <string>
#include <vector>

namespace {

std::vector<std::string> splitAtNul(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
        parts.push_back(text.substr(start, nul - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Conversions: any bytes become well-formed UTF-16, which converts back and forth unchanged;
// well-formed UTF-8 comes back as it was.
void checkText(const std::string& utf8)
{
    const CefString text(utf8);
    const std::u16string utf16 = text.ToString16();
    const std::string back = text.ToString();
    FUZZ_CHECK(CefString(back).ToString16() == utf16);
    FUZZ_CHECK(CefString(text.ToWString()).ToString16() == utf16);
    const QString qt = QString::fromUtf8(utf8.data(), int(utf8.size()));
    if (qt.toUtf8() == QByteArray::fromStdString(utf8)) {
        FUZZ_CHECK(back == utf8);
        FUZZ_CHECK(utf16 == qt.toStdU16String());
    }

    // A text attached to a structure's field writes through to it, and a copied structure owns
    // its own copy.
    CefSettings settings;
    CefString(&settings.cache_path) = text;
    FUZZ_CHECK(CefString(&settings.cache_path).ToString16() == utf16);
    CefSettings copy(settings);
    CefString(&settings.cache_path).clear();
    FUZZ_CHECK(CefString(&copy.cache_path).ToString16() == utf16);
    const CefSettings& same = copy;
    copy = same;
    FUZZ_CHECK(CefString(&copy.cache_path).ToString16() == utf16);
}

// What a parsed command line reports is consistent, and a copy reports the same.
void checkCommandLine(CefRefPtr<CefCommandLine> line)
{
    std::vector<CefString> argv;
    line->GetArgv(argv);
    FUZZ_CHECK(!argv.empty());
    CefCommandLine::SwitchMap switches;
    line->GetSwitches(switches);
    FUZZ_CHECK(line->HasSwitches() == !switches.empty());
    for (const auto& s : switches) {
        FUZZ_CHECK(line->HasSwitch(s.first));
        FUZZ_CHECK(line->GetSwitchValue(s.first) == s.second);
    }
    CefCommandLine::ArgumentList arguments;
    line->GetArguments(arguments);
    FUZZ_CHECK(line->HasArguments() == !arguments.empty());
    FUZZ_CHECK(argv.size() == 1 + switches.size() + arguments.size());
    line->GetCommandLineString();

    CefRefPtr<CefCommandLine> copy = line->Copy();
    std::vector<CefString> copied;
    copy->GetArgv(copied);
    FUZZ_CHECK(copied == argv);
    copy->AppendSwitchWithValue(argv.back(), line->GetProgram());
    copy->PrependWrapper(argv.front());
    copy->Reset();
    FUZZ_CHECK(!copy->HasSwitches() && !copy->HasArguments());
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        checkText(text);
        break;
    case 1: {
        CefRefPtr<CefCommandLine> line = CefCommandLine::CreateCommandLine();
        line->InitFromString(text);
        checkCommandLine(line);
        break;
    }
    case 2: {
        const std::vector<std::string> items = splitAtNul(text);
        std::vector<const char*> argv;
        for (const std::string& item : items)
            argv.push_back(item.c_str());
        CefRefPtr<CefCommandLine> line = CefCommandLine::CreateCommandLine();
        line->InitFromArgv(int(argv.size()), argv.data());
        checkCommandLine(line);
        break;
    }
    default:
        CefGetMimeType(text);
        break;
    }
    return 0;
}
