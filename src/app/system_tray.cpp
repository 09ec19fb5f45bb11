#include "app/system_tray.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject* parent)
    : QSystemTrayIcon(parent)
{
    initMenu();
    initConnections();
}

SystemTray::~SystemTray()
{
    delete m_menu;
    delete m_openAction;
    delete m_quitAction;
}

void SystemTray::initMenu()
{
    setIcon(QIcon(QStringLiteral(":/image/tray")));
    m_menu = new QMenu;
    setContextMenu(m_menu);
    setVisible(true);
    m_openAction = new QAction(this);
    m_quitAction = new QAction(this);
    m_openAction->setText(QStringLiteral("打开客户端"));
    m_quitAction->setText(QStringLiteral("退出"));
    m_menu->addAction(m_openAction);
    m_menu->addSeparator();
    m_menu->addAction(m_quitAction);
    setContextMenu(m_menu);
}

void SystemTray::initConnections()
{
    connect(m_openAction, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(m_quitAction, &QAction::triggered, this, &SystemTray::docloseApp);
}

void SystemTray::doshowWidget() { emit showWidget(); }

void SystemTray::docloseApp() { emit closeApp(); }
