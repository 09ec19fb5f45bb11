// Window sizes that the configuration or a page asks for: a size beyond the screen's available
// area gives a window that fits it, a size within it is kept.
#include "recording_callback.h"
#include "window_fixture.h"

#include "app/window.h"
#include "cefclient/popwidget.h"
#include "cefclient/qcefwebview.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

using test_support::RecordingCallback;

class WindowSizeTest : public test_support::WindowFixture {
protected:
    static QSize screen() { return QGuiApplication::primaryScreen()->availableGeometry().size(); }
    // A page command that gives no answer.
    void send(const QString& query)
    {
        CefRefPtr<RecordingCallback> callback = new RecordingCallback;
        emit window->webView()->jsMessage(query, callback);
    }

    struct Case {
        const char* width;
        const char* height;
        QSize size; // (0, 0): the screen's available area
    };
    static QSize expected(const Case& c)
    {
        return QSize(c.size.width() ? c.size.width() : screen().width(),
                     c.size.height() ? c.size.height() : screen().height());
    }
    static std::vector<Case> cases()
    {
        return {{"200000", "200000", {0, 0}}, {"2147483647", "480", {0, 480}}, {"640", "480", {640, 480}},
                {"320", "99999", {320, 0}}};
    }
};

TEST_F(WindowSizeTest, TheConfiguredSizeIsBoundedToTheScreen)
{
    ASSERT_LT(screen().width(), 200000);
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.width) + "," + c.height);
        openWindow(QString("<client Name=\"Tarquil\" ClientSize=\"%1,%2\" LoadPath=\"%3\"/>")
                       .arg(c.width, c.height, test_support::startPage()));
        EXPECT_EQ(window->size(), expected(c));
        EXPECT_EQ(window->minimumSize(), expected(c));
        EXPECT_EQ(window->webView()->size(), expected(c));
        closeWindow();
    }
}

TEST_F(WindowSizeTest, TheLoginAndPopupSizesOfAPageAreBoundedToTheScreen)
{
    openWindow();
    int n = 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(std::string(c.width) + "," + c.height);
        send(QString(R"({"FuncName":"LoginMain","Url":"%1","width":"%2","height":"%3"})")
                 .arg(test_support::startPage(), c.width, c.height));
        EXPECT_EQ(window->size(), expected(c));
        EXPECT_EQ(window->minimumSize(), expected(c));
        EXPECT_EQ(window->webView()->size(), expected(c));

        const QString url = QString("velmora://settings/local/client/popup%1.html").arg(++n);
        send(QString(R"({"FuncName":"OpenView","Url":"%1","width":%2,"height":"%3"})").arg(url, c.width, c.height));
        PopWidget* popup = window->popups().value(url);
        ASSERT_TRUE(popup);
        EXPECT_EQ(popup->size(), expected(c));
        EXPECT_EQ(popup->webView()->size(), expected(c));
    }
}

} // namespace
