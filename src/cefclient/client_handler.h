// The program-wide handler of the embedded browser: sends the named page events to the main
// browser's renderer.
#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QVariantList>

class ClientHandler {
public:
    struct PageEvent {
        QString name;
        QVariantList args;
    };

    ClientHandler();
    virtual ~ClientHandler();

    // "devicesChanged" [code].
    void SendDevicesChanged(int code);
    // "keyDown" when the report text's fourth digit is "5", "mouseMove" ["x,y"] when it is "8".
    void SendDeviceInput(const QString& hex);

    // The events sent so far, oldest first; they wait here until a main browser takes them.
    QList<PageEvent> sentEvents() const;

private:
    void sendToMainBrowser(const PageEvent& event);

    mutable QMutex m_lock;
    QList<PageEvent> m_sent;
};

// The one handler of the program; null until the program creates it.
extern ClientHandler* g_handler;
