#include "include/cef_command_line.h"
#include "include/cef_menu_model.h"
#include "include/cef_process_message.h"
#include "include/cef_stream.h"
#include "include/cef_values.h"
#include "cef_control/backend.h"
#include "cef_test/cef_test_host.h"
#include "cef_extras/qt_string.h"
#include "row_name.h"

#include <gtest/gtest.h>

#include <QString>
#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Text {
    const char* name;
    const char* utf8;
    std::u16string utf16;
    std::wstring wide;
};

void PrintTo(const Text& row, std::ostream* os) { *os << row.name; }

class CefStringConversion : public ::testing::TestWithParam<Text> {};

TEST_P(CefStringConversion, BetweenEveryEncoding)
{
    const Text& c = GetParam();
    const CefString fromUtf8(c.utf8);
    EXPECT_EQ(fromUtf8.ToString16(), c.utf16);
    EXPECT_EQ(fromUtf8.ToString(), c.utf8);
    EXPECT_EQ(fromUtf8.ToWString(), c.wide);
    EXPECT_EQ(CefString(c.wide).ToString(), c.utf8);
    const QString q = QString::fromUtf8(c.utf8);
    EXPECT_EQ(cef_extras::ToCefString(q).ToString(), c.utf8);
    EXPECT_EQ(cef_extras::ToQString(fromUtf8), q);
    EXPECT_EQ(fromUtf8.length(), c.utf16.size());
}

INSTANTIATE_TEST_SUITE_P(CefStringTest, CefStringConversion,
    ::testing::Values(Text{"Empty", "", u"", L""}, Text{"Ascii", "ascii", u"ascii", L"ascii"},
        Text{"UmlautAndEuro", "\xC3\xA4\xE2\x82\xAC", u"\u00E4\u20AC", L"\u00E4\u20AC"},
        Text{"OutsideTheBmp", "\xF0\x9F\x98\x80", u"\U0001F600", L"\U0001F600"}, // a surrogate pair
        Text{"Chinese", "\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587", L"\u4E2D\u6587"}),
    test_support::RowName());

TEST(CefStringTest, InvalidInputBecomesReplacementCharacter)
{
    EXPECT_EQ(CefString(std::string("a\xFF" "b")).ToString16(), u"a\uFFFDb");
    EXPECT_EQ(CefString(std::string("\xC3")).ToString16(), u"\uFFFD");          // truncated sequence
    EXPECT_EQ(CefString(std::string("\xC0\xAF")).ToString16(), u"\uFFFD");      // overlong
    EXPECT_EQ(CefString(std::u16string(1, char16_t(0xD800))).ToString(), "\xEF\xBF\xBD"); // lone surrogate
}

TEST(CefStringTest, AttachedStringWritesThroughAndStructuresOwnTheirTexts)
{
    CefSettings settings;
    EXPECT_EQ(settings.size, sizeof(cef_settings_t));
    CefString(&settings.log_file) = "app.log";
    CefString(&settings.locale).FromASCII("en");
    EXPECT_EQ(CefString(&settings.log_file).ToString(), "app.log");

    CefSettings copy = settings; // owns texts of its own
    CefString(&settings.locale) = "zh";
    CefString(&settings.log_file).clear();
    EXPECT_EQ(CefString(&copy.locale).ToString(), "en");
    EXPECT_EQ(CefString(&copy.log_file).ToString(), "app.log");

    const CefSettings& constant = copy;
    CefString detached(&constant.locale); // from a const field: a copy, not attached
    detached = "other";
    EXPECT_EQ(CefString(&copy.locale).ToString(), "en");

    copy = settings;
    EXPECT_EQ(CefString(&copy.locale).ToString(), "zh");
    EXPECT_TRUE(CefString(&copy.log_file).empty());
    copy = copy;
    EXPECT_EQ(CefString(&copy.locale).ToString(), "zh");
}

TEST(CefStringTest, ComparesAndOrders)
{
    EXPECT_TRUE(CefString("a") < CefString("b"));
    EXPECT_TRUE(CefString("abc") == "abc");
    EXPECT_TRUE(CefString("abc") != "abd");
    const std::string s = CefString("x"); // implicit conversion used by callers
    EXPECT_EQ(s, "x");
}

TEST(CefCommandLineTest, ParsesSwitchesAndArguments)
{
    const char* argv[] = {"prog", "--url=velmora://settings/a?b=c", "--Mouse-Cursor-Change-Disabled", "-autostart",
                          "file.txt", "--", "--not-a-switch"};
    CefRefPtr<CefCommandLine> cl = CefCommandLine::CreateCommandLine();
    cl->InitFromArgv(7, argv);
    EXPECT_EQ(cl->GetProgram().ToString(), "prog");
    EXPECT_EQ(cl->GetSwitchValue("url").ToString(), "velmora://settings/a?b=c");
    EXPECT_TRUE(cl->HasSwitch("mouse-cursor-change-disabled"));
    EXPECT_TRUE(cl->HasSwitch("MOUSE-cursor-change-disabled"));
    EXPECT_TRUE(cl->HasSwitch("autostart"));
    EXPECT_FALSE(cl->HasSwitch("type"));
    EXPECT_TRUE(cl->GetSwitchValue("missing").empty());
    CefCommandLine::ArgumentList args;
    cl->GetArguments(args);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0].ToString(), "file.txt");
    EXPECT_EQ(args[1].ToString(), "--not-a-switch");
}

// Arguments that are not UTF-8 are read as text: every switch listed is found under its listed name.
TEST(CefCommandLineTest, SwitchesThatAreNotUtf8AreFoundUnderTheirListedNames)
{
    const char* argv[] = {"prog", "--bad\xFE\xD7=v\xFF", "--good", "arg\xC0"};
    CefRefPtr<CefCommandLine> cl = CefCommandLine::CreateCommandLine();
    cl->InitFromArgv(4, argv);
    CefCommandLine::SwitchMap switches;
    cl->GetSwitches(switches);
    ASSERT_EQ(switches.size(), 2u);
    for (const auto& s : switches) {
        EXPECT_TRUE(cl->HasSwitch(s.first)) << s.first.ToString();
        EXPECT_EQ(cl->GetSwitchValue(s.first), s.second) << s.first.ToString();
    }
    EXPECT_EQ(cl->GetSwitchValue("bad\xEF\xBF\xBD\xEF\xBF\xBD").ToString(), "v\xEF\xBF\xBD");
    std::vector<CefString> all;
    cl->GetArgv(all);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3].ToString(), "arg\xEF\xBF\xBD");
}

TEST(CefValuesTest, ListGrowsAndReportsTypes)
{
    CefRefPtr<CefListValue> list = CefListValue::Create();
    EXPECT_TRUE(list->SetInt(2, 7));
    ASSERT_EQ(list->GetSize(), 3u);
    EXPECT_EQ(list->GetType(0), VTYPE_NULL);
    EXPECT_EQ(list->GetType(2), VTYPE_INT);
    EXPECT_EQ(list->GetType(3), VTYPE_INVALID);
    list->SetBool(0, true);
    list->SetString(1, "s");
    CefRefPtr<CefListValue> nested = CefListValue::Create();
    nested->SetDouble(0, 1.5);
    list->SetList(3, nested);
    EXPECT_TRUE(list->GetBool(0));
    EXPECT_EQ(list->GetString(1).ToString(), "s");
    EXPECT_EQ(list->GetInt(2), 7);
    EXPECT_DOUBLE_EQ(list->GetList(3)->GetDouble(0), 1.5);
    EXPECT_EQ(list->GetInt(1), 0); // wrong type reads as zero
    EXPECT_FALSE(list->SetInt(-1, 1));
}

// A container cannot be put inside itself, however deep: such a value would never be freed
// and copying it would not end. Sharing one child between parents stays allowed.
TEST(CefValuesTest, CyclesAreRefusedAtAnyDepth)
{
    const int before = cef_test::LiveObjectCount();
    {
        CefRefPtr<CefListValue> list = CefListValue::Create();
        CefRefPtr<CefDictionaryValue> dict = CefDictionaryValue::Create();
        CefRefPtr<CefListValue> inner = CefListValue::Create();
        CefRefPtr<CefDictionaryValue> innerDict = CefDictionaryValue::Create();
        ASSERT_TRUE(dict->SetList("list", list));         // dict > list
        ASSERT_TRUE(list->SetList(0, inner));             // dict > list > inner
        ASSERT_TRUE(inner->SetDictionary(0, innerDict));  // dict > list > inner > innerDict
        struct Case {
            const char* what;
            bool refused;
        };
        const Case cases[] = {
            {"list into itself", !list->SetList(1, list)},
            {"dict into itself", !dict->SetDictionary("self", dict)},
            {"dict into the list it holds", !list->SetDictionary(1, dict)},
            {"list into its grandchild", !inner->SetList(1, list)},
            {"dict into its deepest descendant", !innerDict->SetDictionary("up", dict)},
            {"list into its deepest descendant", !innerDict->SetList("up", list)},
            {"outer list into the dict inside it", !innerDict->SetList("outer", inner)},
        };
        for (const Case& c : cases)
            EXPECT_TRUE(c.refused) << c.what;
        EXPECT_EQ(list->GetSize(), 1u);
        EXPECT_EQ(innerDict->GetSize(), 0u);

        CefRefPtr<CefListValue> shared = CefListValue::Create();
        shared->SetInt(0, 5);
        EXPECT_TRUE(inner->SetList(1, shared));
        EXPECT_TRUE(innerDict->SetList("again", shared)); // one child, two parents: no cycle
        CefRefPtr<CefDictionaryValue> copy = dict->Copy(false);
        EXPECT_EQ(copy->GetList("list")->GetList(0)->GetList(1)->GetInt(0), 5);
        EXPECT_EQ(copy->GetList("list")->GetList(0)->GetDictionary(0)->GetList("again")->GetInt(0), 5);
    }
    EXPECT_EQ(cef_test::LiveObjectCount(), before); // everything freed
}

TEST(CefValuesTest, MessageCopyIsDeepAndReadOnlyForReceivers)
{
    CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create("devicesChanged");
    CefRefPtr<CefListValue> nested = CefListValue::Create();
    nested->SetInt(0, 1);
    msg->GetArgumentList()->SetList(0, nested);
    CefRefPtr<CefProcessMessage> copy = msg->Copy();
    nested->SetInt(0, 2);
    EXPECT_EQ(copy->GetArgumentList()->GetList(0)->GetInt(0), 1);
    EXPECT_EQ(copy->GetName().ToString(), "devicesChanged");
}

TEST(CefMenuModelTest, RadioGroupIsExclusiveAndSubmenusNest)
{
    CefRefPtr<CefMenuModel> m = cef_backend::CreateMenuModel();
    m->AddItem(26500, "Show DevTools");
    m->AddSeparator();
    CefRefPtr<CefMenuModel> sub = m->AddSubMenu(26503, "Context Menu Test");
    ASSERT_TRUE(sub);
    sub->AddCheckItem(26504, "Check Item");
    sub->AddRadioItem(26505, "Radio Item 1", 0);
    sub->AddRadioItem(26506, "Radio Item 2", 0);
    sub->AddRadioItem(26507, "Radio Item 3", 0);
    EXPECT_EQ(m->GetCount(), 3);
    EXPECT_EQ(m->GetTypeAt(1), MENUITEMTYPE_SEPARATOR);
    EXPECT_EQ(m->GetSubMenu(26503).get(), sub.get());
    sub->SetChecked(26505, true);
    sub->SetChecked(26507, true);
    EXPECT_FALSE(sub->IsChecked(26505));
    EXPECT_TRUE(sub->IsChecked(26507));
    sub->SetChecked(26504, true);
    EXPECT_TRUE(sub->IsChecked(26507)); // a check item does not touch the group
    EXPECT_FALSE(m->SetChecked(26500, true)); // plain items carry no mark
    EXPECT_TRUE(m->Clear());
    EXPECT_EQ(m->GetCount(), 0);
}

TEST(CefStreamTest, CreateForDataCopiesAndReadsInPieces)
{
    char data[] = "hello";
    CefRefPtr<CefStreamReader> r = CefStreamReader::CreateForData(data, 5);
    data[0] = 'X';
    char buf[4] = {};
    EXPECT_EQ(r->Read(buf, 1, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "hel");
    EXPECT_EQ(r->Read(buf, 1, 3), 2u);
    EXPECT_EQ(std::string(buf, 2), "lo");
    EXPECT_TRUE(r->Eof());
    EXPECT_EQ(r->Seek(0, SEEK_SET), 0);
    EXPECT_EQ(r->Read(buf, 1, 1), 1u);
    EXPECT_EQ(buf[0], 'h');
}

struct Counted : public CefBase {
    explicit Counted(std::atomic<int>* alive) : alive_(alive) { ++*alive_; }
    ~Counted() override { --*alive_; }
    std::atomic<int>* alive_;
    IMPLEMENT_REFCOUNTING(Counted);
};

TEST(CefRefCountTest, ConcurrentAddRefReleaseDeletesOnce)
{
    std::atomic<int> alive{0};
    CefRefPtr<Counted> obj = new Counted(&alive);
    EXPECT_TRUE(obj->HasOneRef());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CefRefPtr<Counted> copy = obj;
                copy->AddRef();
                copy->Release();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(obj->HasOneRef());
    EXPECT_EQ(alive.load(), 1);
    obj = nullptr;
    EXPECT_EQ(alive.load(), 0);
}

} // namespace

#include "include/cef_url.h"

namespace {

TEST(CefUrlTest, MimeTypesOfExtensions)
{
    EXPECT_EQ(CefGetMimeType("html").ToString(), "text/html");
    EXPECT_EQ(CefGetMimeType("PNG").ToString(), "image/png");
    EXPECT_TRUE(CefGetMimeType("").empty());
    // No file name holds a NUL; the type database would read past its cache for one.
    EXPECT_TRUE(CefGetMimeType(std::string("(\0\0\0.v", 6)).empty());
    EXPECT_TRUE(CefGetMimeType(std::string("html\0", 5)).empty());
}

} // namespace
