// The no-device dialog: a frameless message with an OK and a close button, both closing it, that can
// be dragged by its background. Nothing in the program opens it.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;

class infoDlg : public QDialog {
    Q_OBJECT
public:
    explicit infoDlg(QWidget* parent = nullptr);
    ~infoDlg() override;

private slots:
    void on_btn_closeSetuper_clicked();
    void on_pb_ok_clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    // WM_NCHITTEST: HTCAPTION over the background and the page, so that pressing there drags.
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_borderWidth = 10;
    QPushButton* btn_closeSetuper = nullptr;
    QStackedWidget* m_pages = nullptr;
    QFrame* pageInfo = nullptr;
    QLabel* lb_info = nullptr;
    QPushButton* pb_ok = nullptr;
};
