#pragma once
// A read-only card of what the search learned about one device.

#include "CFramelessDialog.h"
#include "DeviceRecords.h"

class CDetailsDlg final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CDetailsDlg)

public:
    CDetailsDlg(QWidget *parent, const scoutrix::DeviceRecord &record);

    // The value shown beside a label, by the value label's object name.
    QString value(const char *objectName) const;

public slots:
    void OnClose();

private:
    scoutrix::DeviceRecord m_record;
};
