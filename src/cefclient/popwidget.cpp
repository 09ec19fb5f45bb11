#include "cefclient/popwidget.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/qcefwebview.h"

#include <QEvent>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

LoadRes::LoadRes(QCefWebView* view, const QString& url)
{
    connect(this, SIGNAL(signals_loadres(QCefWebView*, QString)), this, SLOT(slot_LoadRes(QCefWebView*, QString)));
    emit signals_loadres(view, url);
}

void LoadRes::slot_LoadRes(QCefWebView* popView, QString openUrl) { popView->load(QUrl(openUrl, QUrl::TolerantMode)); }

PopWidget::PopWidget(const QString& url, const QSize& size, QWidget* parent)
    : QWidget(parent)
    , m_url(url)
    , m_size(boundedWindowSize(size))
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    resize(m_size);
    // The popup belongs to the program's window: it carries that window's title and opens over
    // its middle, also where no window manager places it.
    if (QWidget* owner = parent ? parent->window() : nullptr) {
        setWindowTitle(owner->windowTitle());
        QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
        QRect place(QPoint(), m_size);
        place.moveCenter(owner->frameGeometry().center());
        if (screen) {
            const QRect area = screen->availableGeometry();
            place.moveLeft(qBound(area.left(), place.left(), qMax(area.left(), area.right() - place.width() + 1)));
            place.moveTop(qBound(area.top(), place.top(), qMax(area.top(), area.bottom() - place.height() + 1)));
        }
        move(place.topLeft());
    }
    m_view = new QCefWebView(this, false);
    m_view->resize(m_size);
    m_view->load(QUrl(url, QUrl::TolerantMode));
    installEventFilter(this);
}

PopWidget::~PopWidget()
{
    // As a child the view goes with the popup in any case; it takes itself out as the runtime's
    // listener then.
    if (m_view)
        m_view->deleteLater();
    m_view = nullptr;
}

bool PopWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != this || event->type() != QEvent::WindowActivate)
        return false;
    if (g_handler) {
        g_handler->SetListener(m_view);
        g_handler->SetMainWindowHandle(static_cast<HWND>(winId()));
    }
    if (Window* main = appMainWindow())
        main->setActivePopup(this);
    // Qt's own activation handling (active palette, focus) still runs.
    return false;
}

void PopWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        raise();
        activateWindow();
    }
}

void PopWidget::resizeEvent(QResizeEvent* event)
{
    if (m_view)
        m_view->resize(event->size());
    QWidget::resizeEvent(event);
}
