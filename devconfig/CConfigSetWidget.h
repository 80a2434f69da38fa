#pragma once
// Page of the main window. Holds a borrowed pointer to the main window's
// device list; it never frees it.

#include <QWidget>

#include "DeviceRecords.h"

class QLabel;

class CConfigSetWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CConfigSetWidget)

public:
    explicit CConfigSetWidget(QWidget *parent = nullptr);
    ~CConfigSetWidget() override;

    void setDeviceList(scoutrix::DeviceRecord *devices, int count);
    int deviceCount() const { return m_count; }

    // Back to the start view (index 0).
    void resetToFirstView() {}

private:
    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    QLabel *m_hint = nullptr;
};
