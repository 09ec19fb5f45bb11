#include "app/info_dlg.h"
#include "app/pswindow.h"

#include "app/frameless_drag.h"
#include "app/image_resources.h"

#include "windows.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>

infoDlg::infoDlg(QWidget* parent)
    : QDialog(parent, Qt::WindowFlags())
{
    psInitImageResources();
    setObjectName(QStringLiteral("updateDlg"));
    setFixedSize(600, 380);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/velmora/icon.png")));
    setContentsMargins(m_borderWidth, m_borderWidth, m_borderWidth, m_borderWidth);

    btn_closeSetuper = new QPushButton(this);
    btn_closeSetuper->setObjectName(QStringLiteral("btn_closeSetuper"));
    btn_closeSetuper->move(562, 20);
    btn_closeSetuper->setFixedSize(18, 18);
    connect(btn_closeSetuper, SIGNAL(clicked()), this, SLOT(on_btn_closeSetuper_clicked()));

    m_pages = new QStackedWidget(this);
    m_pages->move(10, 60);
    m_pages->setFixedSize(580, 310);
    m_pages->setContentsMargins(0, 0, 0, 0);

    pageInfo = new QFrame(m_pages);
    pageInfo->setObjectName(QStringLiteral("pageInfo"));
    pageInfo->setFixedSize(580, 310);
    pageInfo->setContentsMargins(0, 0, 0, 0);
    m_pages->addWidget(pageInfo);

    lb_info = new QLabel(pageInfo);
    lb_info->setObjectName(QStringLiteral("lb_info"));
    lb_info->move(180, 70);
    lb_info->setText(QStringLiteral("   当前未检测到设备"));
    lb_info->adjustSize(); // wide enough for the text in the style sheet's font

    pb_ok = new QPushButton(pageInfo);
    pb_ok->setObjectName(QStringLiteral("pb_ok"));
    pb_ok->move(240, 190);
    pb_ok->setText(QStringLiteral("确定"));
    connect(pb_ok, SIGNAL(clicked()), this, SLOT(on_pb_ok_clicked()));
}

infoDlg::~infoDlg() = default;

void infoDlg::on_btn_closeSetuper_clicked() { reject(); }

void infoDlg::on_pb_ok_clicked() { reject(); }

void infoDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), QPixmap(QStringLiteral(":/image/background")));
}

bool infoDlg::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    const MSG* msg = psWindowsMessage(eventType, message);
    if (!msg || msg->message != WM_NCHITTEST)
        return false;
    const QPoint p = QPoint(GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)) - geometry().topLeft();
    QWidget* child = childAt(p);
    if (child && child != m_pages->currentWidget())
        return false;
    if (result)
        *result = HTCAPTION;
    return true;
}

// Presses that no child takes (a label passes them on) arrive here; the hit test at the point
// decides whether they drag.
void infoDlg::mousePressEvent(QMouseEvent* event)
{
    if (!psDragByHitTest(this, event))
        QDialog::mousePressEvent(event);
}
