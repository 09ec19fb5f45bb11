#include "cefclient/popwidget.h"

#include "app/application.h"
#include "app/window.h"
#include "cefclient/client_handler.h"
#include "cefclient/qcefwebview.h"

#include <QEvent>
#include <QResizeEvent>
#include <QUrl>

PopWidget::PopWidget(const QString& url, const QSize& size, QWidget* parent)
    : QWidget(parent)
    , m_url(url)
    , m_size(size)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    resize(size);
    m_view = new QCefWebView(this, false);
    m_view->resize(size);
    m_view->load(QUrl(url, QUrl::TolerantMode));
    installEventFilter(this);
}

PopWidget::~PopWidget()
{
    // The view takes itself out as the runtime's listener.
    delete m_view;
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
    return true;
}

void PopWidget::resizeEvent(QResizeEvent* event)
{
    if (m_view)
        m_view->resize(event->size());
    QWidget::resizeEvent(event);
}
