// A page opened in a window of its own over the main window: a frameless dialog holding its own
// page view.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

class QCefWebView;

class PopWidget : public QWidget {
    Q_OBJECT
public:
    // The view loads url at once, at size.
    PopWidget(const QString& url, const QSize& size, QWidget* parent = nullptr);
    ~PopWidget() override;

    QCefWebView* webView() const { return m_view; }

    // On its own activation the popup's view takes the page queries, its window becomes the main
    // window handle and the main window learns which popup is active.
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A popup asks to be the active window when shown, as a dialog opened over the program is,
    // also where no window manager activates it.
    void showEvent(QShowEvent* event) override;

private:
    QString m_url;
    QSize m_size;
    QCefWebView* m_view = nullptr;
};

// Loads an address into a view through a signal of its own.
class LoadRes : public QObject {
    Q_OBJECT
public:
    LoadRes(QCefWebView* view, const QString& url);

signals:
    void signals_loadres(QCefWebView* popView, QString openUrl);

public slots:
    void slot_LoadRes(QCefWebView* popView, QString openUrl);
};
