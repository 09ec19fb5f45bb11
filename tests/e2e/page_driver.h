// Driving the program's pages in the page engine as a user does: scripts run in a page to read what
// it shows and to raise events on its own controls, page commands sent from its script, and a
// fixture that waits for the program to show its start page with the simulated devices listed.
#pragma once

#include "app/window.h"
#include "cefclient/qcefwebview.h"

#include "vqsim/vqsim.h"

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

class PopWidget;
class QWebEngineView;

namespace e2e {

extern const char kStartPage[];
extern const char kPopupPage[];
extern const char kMouseId[];
extern const char kKeyboardId[];
extern const int kLoadMs;

QWebEngineView* engineViewOf(QCefWebView* view);

// The value of a script in the page; invalid when the page gives none in time.
QVariant eval(QWebEngineView* view, const QString& script);
QString text(QWebEngineView* view, const QString& script);
// text as a script expression.
QString jsString(const QString& text);

// Sends a request from the page that is never answered, or whose answer does not matter.
void send(QWebEngineView* view, const QString& request);
// Sends a request from the page as its own script does and answers what came back: "S:<text>" or
// "F:<code>:<text>"; empty when no answer came in time.
QString query(QWebEngineView* view, const QString& request, int ms = 20000);
QString command(const QJsonObject& request);

QString devicesShown(QWebEngineView* view);

// Events on a page's own controls, as a user's clicks and typing raise them; false when no element
// matches the selector.
bool click(QWebEngineView* view, const QString& selector);
// Sets an input's or a select's value and raises "input" and "change".
bool setValue(QWebEngineView* view, const QString& selector, const QString& value);
// Presses (down) or releases a key in the page as the keyboard does: the key, its X key code and
// its text; false when the page has no widget to take it.
bool typeKey(QWebEngineView* view, Qt::Key key, quint32 scanCode, const QString& text, bool down);
// Ticks or clears a check box and raises "change".
bool setChecked(QWebEngineView* view, const QString& selector, bool checked);
// A property of the first element the selector matches (for example "value", "textContent").
QString property(QWebEngineView* view, const QString& selector, const QString& name);
bool isShown(QWebEngineView* view, const QString& selector);
QString statusLine(QWebEngineView* view);

// How many calls of that entry point the simulated device library's call log holds.
int simCalls(const char* entryPoint);
// A device property's bytes as the simulated library holds them; empty for none.
QByteArray simProp(const char* deviceId, int index);
QByteArray simMemory(const char* deviceId, int address, int length);

// Waits until the panel (a section of the start page) is shown and holds what was read.
bool waitForPanel(QWebEngineView* view, const QString& panelId, int ms = 20000);

// Runs one case (its full name) in a second run of the program from the same program folder and
// on the same simulated device state; true when it passed. A case meant only for that is named
// DISABLED_..., so that only this runs it.
bool runInAnotherProgramRun(const QString& testName);

// The popup view opened for a URL that starts with urlStart, once its page is ready.
PopWidget* waitForPopup(Window* window, const QString& urlStart);

// Saves a picture of the widget's window into the test's output folder; false when it has no content.
bool keepPicture(QWidget* window, const QString& name);

// Every case starts with the program shown on its start page, the simulated devices listed.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;

    const VqSim& sim() { return VqSim::instance(); }

    Window* window = nullptr;
    QWebEngineView* page = nullptr;
};

} // namespace e2e
