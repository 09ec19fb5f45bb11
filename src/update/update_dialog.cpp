#include "update/update_dialog.h"

#include "app/application.h"
#include "app/frameless_drag.h"
#include "app/image_resources.h"
#include "app/window.h"
#include "update/updater.h"

#include "include/base/cef_logging.h"

#include <QDebug>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>

updateDlg::updateDlg(QWidget* parent)
    : QDialog(parent)
{
    psInitImageResources();
    setObjectName(QStringLiteral("updateDlg"));
    setFixedSize(375, 304);
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/velmora/icon.png")));

    closeButton = new QPushButton(this);
    closeButton->setObjectName(QStringLiteral("btn_closeSetuper"));
    closeButton->move(350, 5);
    closeButton->setFixedSize(15, 15);

    versionLabel = new QLabel(this);
    versionLabel->setObjectName(QStringLiteral("lb_text"));
    versionLabel->setGeometry(10, 110, 140, 20);
    versionLabel->setText(g_updateVersion);
    versionLabel->setAlignment(Qt::AlignCenter);

    stackedWidget = new QStackedWidget(this);
    stackedWidget->move(10, 50);
    stackedWidget->setFixedSize(355, 284);
    stackedWidget->setContentsMargins(0, 0, 0, 0);

    firstPage = new QFrame(stackedWidget);
    firstPage->setObjectName(QStringLiteral("pageFirst"));
    firstPage->setFixedSize(580, 310);
    firstPage->setContentsMargins(0, 0, 0, 0);

    auto* notes = new QTextEdit(firstPage);
    notes->setObjectName(QStringLiteral("textEdit"));
    notes->move(2, 100);
    notes->setFixedSize(345, 100);
    notes->setReadOnly(true);
    notes->setPlainText(g_updateDescription);
    QTextCursor everything(notes->document());
    everything.select(QTextCursor::Document);
    QTextBlockFormat paragraph;
    paragraph.setBottomMargin(10);
    everything.mergeBlockFormat(paragraph);

    cancelButton = new QPushButton(QStringLiteral("下次提醒"), firstPage);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->move(155, 210);
    startButton = new QPushButton(QStringLiteral("开始升级"), firstPage);
    startButton->setObjectName(QStringLiteral("uninstallButton"));
    startButton->move(260, 210);

    stackedWidget->addWidget(firstPage);
    // The label lies over the page; it stays a widget of its own for the hit test.
    versionLabel->raise();

    connect(closeButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
    connect(cancelButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
    connect(startButton, &QPushButton::clicked, this, &updateDlg::ExecUpdater);
}

updateDlg::~updateDlg() = default;

void updateDlg::setInfo(const QJsonObject& ret, const QString& version)
{
    this->ret = ret;
    this->version = version;
}

void updateDlg::showFirstPage()
{
    stackedWidget->setCurrentWidget(firstPage);
    versionLabel->show();
}

void updateDlg::on_btn_closeSetuper_clicked() { reject(); }

void updateDlg::on_pb_ok_clicked() { reject(); }

void updateDlg::ExecUpdater()
{
    const QStringList items = updaterArguments(ret, version, false);
    qDebug() << version;
    LOG(INFO) << "Application Info: executing " << updaterProgramPath().toStdString() << " "
              << updaterArgumentText(items).toStdString();
    if (launchUpdater(items) < 32) {
        showLaunchFailure();
        return;
    }
    if (Window* window = appMainWindow())
        window->oncloseApp();
    else
        quitApplication();
    // The quit ends the modal run too; this also closes the dialog when a quit was requested before.
    accept();
}

void updateDlg::showLaunchFailure()
{
    if (!failurePage) {
        failurePage = new QFrame(stackedWidget);
        failurePage->setObjectName(QStringLiteral("failurePage"));
        failureLabel = new QLabel(QStringLiteral("升级程序无法启动，没有进行升级。程序将继续运行，请稍后再试。"), failurePage);
        failureLabel->setObjectName(QStringLiteral("failureText"));
        failureLabel->setGeometry(20, 100, 315, 80);
        failureLabel->setAlignment(Qt::AlignCenter);
        failureLabel->setWordWrap(true);
        failureCloseButton = new QPushButton(QStringLiteral("关闭"), failurePage);
        failureCloseButton->setObjectName(QStringLiteral("failureCloseButton"));
        failureCloseButton->move(155, 210);
        connect(failureCloseButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
        stackedWidget->addWidget(failurePage);
    }
    versionLabel->hide();
    stackedWidget->setCurrentWidget(failurePage);
    failureCloseButton->setFocus();
}

void updateDlg::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), QPixmap(downloadLook ? QStringLiteral(":/image/bg_downlode") : QStringLiteral(":/image/bg_update")));
}

bool updateDlg::hitTest(const QPoint& point, LRESULT* answer) const
{
    const QWidget* child = childAt(point);
    if (child && child != stackedWidget->currentWidget())
        return false;
    LRESULT code = HTCAPTION;
    if (resizable && !isMaximized()) {
        const int b = borderWidth, w = width(), h = height(), x = point.x(), y = point.y();
        const bool left = 0 < x && x < b, right = w - b < x && x < w;
        const bool top = 0 < y && y < b, bottom = h - b < y && y < h;
        if (left)
            code = HTLEFT;
        if (right)
            code = HTRIGHT;
        if (top)
            code = HTTOP;
        if (bottom)
            code = HTBOTTOM;
        if (left && top)
            code = HTTOPLEFT;
        if (right && top)
            code = HTTOPRIGHT;
        if (left && bottom)
            code = HTBOTTOMLEFT;
        if (right && bottom)
            code = HTBOTTOMRIGHT;
    }
    *answer = code;
    return true;
}

bool updateDlg::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    const MSG* msg = psWindowsMessage(eventType, message);
    if (!msg || msg->message != WM_NCHITTEST)
        return false;
    const QPoint point = QPoint(GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)) - pos();
    LRESULT answer = 0;
    if (!hitTest(point, &answer))
        return false;
    if (result)
        *result = long(answer);
    return true;
}

// Presses that no child takes arrive here; the hit test at the point decides whether they drag.
void updateDlg::mousePressEvent(QMouseEvent* event)
{
    if (!psDragByHitTest(this, event))
        QDialog::mousePressEvent(event);
}
