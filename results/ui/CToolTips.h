#pragma once
// The result notice: names the device, the operation and the outcome in
// words. Callers create it without a parent, run it modally and drop it.

#include <QDialog>

#include "FramelessDrag.h"

class QLabel;
class QPushButton;

class CToolTips final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CToolTips)

public:
    // |reserved| is accepted for the callers' sake and not used.
    CToolTips(QWidget *parent, const QString &device, int result, int operation, int reserved = 0);

    QString deviceText() const;
    QString operationText() const;
    QString resultText() const;

signals:
    void mouseButtonMove(QPoint pos);
    void signalMainWindowMove();

public slots:
    void OnClose();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QLabel *m_labIP2 = nullptr;
    QLabel *m_labMode2 = nullptr;
    QLabel *m_labType2 = nullptr;
    FramelessDrag m_drag;
};
