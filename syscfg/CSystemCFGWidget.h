#pragma once
// Page of the main window. Holds a borrowed pointer to the main window's
// device list; it never frees it.

#include <QWidget>

#include "DeviceRecords.h"

class QLabel;

class CSystemCFGWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSystemCFGWidget)

public:
    explicit CSystemCFGWidget(QWidget *parent = nullptr);
    ~CSystemCFGWidget() override;

    void setDeviceList(scoutrix::DeviceRecord *devices, int count);
    int deviceCount() const { return m_count; }

private:
    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    QLabel *m_hint = nullptr;
};
