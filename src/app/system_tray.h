// The notification-area icon with its menu: "打开客户端" shows the main window, "退出" ends the program.
#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

signals:
    void showWidget();
    void closeApp();

public slots:
    void doshowWidget();
    void docloseApp();

private:
    void initMenu();
    void initConnections();

    // The menu has no parent: the icon alone owns it.
    QMenu* m_menu = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_quitAction = nullptr;
};
