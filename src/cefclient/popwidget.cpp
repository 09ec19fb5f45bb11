#include "cefclient/popwidget.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/qcefwebview.h"

#include <QEvent>
#include <QResizeEvent>
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

void PopWidget::resizeEvent(QResizeEvent* event)
{
    if (m_view)
        m_view->resize(event->size());
    QWidget::resizeEvent(event);
}
