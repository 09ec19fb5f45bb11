// The frameless dialog that offers a newer release: its version number and release notes, "下次提醒"
// to go on and "开始升级" to start the updater and quit the program. When the updater cannot be
// started, the dialog says so and the program goes on.
#pragma once

#include "windows.h"

#include <QDialog>
#include <QJsonObject>
#include <QString>

class QFrame;
class QLabel;
class QMouseEvent;
class QPushButton;
class QStackedWidget;

class updateDlg : public QDialog {
    Q_OBJECT
public:
    // The label and the text box take g_updateVersion and g_updateDescription as they are now.
    explicit updateDlg(QWidget* parent = nullptr);
    ~updateDlg() override;

    // The update answer's "ret" and the firmware version text of the updater's arguments.
    void setInfo(const QJsonObject& ret, const QString& version);
    void showFirstPage();

    // The answer to WM_NCHITTEST at a point relative to the dialog: HTCAPTION over the background
    // and the page's empty parts (the resize codes at the edges while resizable); false where a
    // child widget is, which the toolkit handles.
    bool hitTest(const QPoint& point, LRESULT* answer) const;

    int borderWidth = 10;
    bool resizable = false; // nothing sets it
    QPushButton* closeButton = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    QFrame* firstPage = nullptr;
    QLabel* versionLabel = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* startButton = nullptr;
    // Made when the updater could not be started: what happened, and one button that closes the
    // dialog.
    QFrame* failurePage = nullptr;
    QLabel* failureLabel = nullptr;
    QPushButton* failureCloseButton = nullptr;
    QJsonObject ret;
    QString version;
    bool downloadLook = false; // nothing sets it

signals:
    // Nothing emits it.
    void closeApp();

public slots:
    void on_btn_closeSetuper_clicked();
    // Starts the updater, then quits the program; a launch that was refused is told on the
    // failure page instead, and the program goes on.
    void ExecUpdater();
    // Connected to nothing.
    void on_pb_ok_clicked();

protected:
    void showLaunchFailure();
    void paintEvent(QPaintEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
    void mousePressEvent(QMouseEvent* event) override;
};
