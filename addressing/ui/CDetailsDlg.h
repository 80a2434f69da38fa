#pragma once
// A read-only card of what the search learned about one device.

#include <QDialog>

#include "DeviceRecords.h"
#include "FramelessDrag.h"

class CDetailsDlg final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDetailsDlg)

public:
    CDetailsDlg(QWidget *parent, const scoutrix::DeviceRecord &record);

    // The value shown beside a label, by the value label's object name.
    QString value(const char *objectName) const;

signals:
    void mouseButtonMove(QPoint pos);
    void signalMainWindowMove();

public slots:
    void OnClose();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    scoutrix::DeviceRecord m_record;
    FramelessDrag m_drag;
};
