#pragma once
// The program's frameless dialogs: no system frame, dragged anywhere with the
// left button, announcing each move through the same two signals as the main
// window. Dialogs with a title band of their own build it with titleBand().

#include <QDialog>

#include "FramelessDrag.h"

class QLabel;
class QPushButton;

class CFramelessDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CFramelessDialog(QWidget *parent = nullptr);

signals:
    void mouseButtonMove(QPoint pos);
    void signalMainWindowMove();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

    // A 24-pixel band "widget_2" with the title label "labTip" and the close
    // button "btnClose" at its right end; |closeButton| receives the button.
    QWidget *titleBand(const QString &title, QPushButton **closeButton);

    // A label with an object name for the style sheets. Plain text always:
    // the dialogs show what devices send, which must never render as markup.
    static QLabel *namedLabel(const QString &name, const QString &text, QWidget *parent);

private:
    FramelessDrag m_drag;
};
