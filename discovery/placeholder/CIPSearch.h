#pragma once
// Stand-in for the device table page until its sources land under ui/:
// a plain list of the devices found.

#include <QWidget>

#include "DeviceRecords.h"

class QTableWidget;

class CIPSearch : public QWidget
{
    Q_OBJECT

public:
    explicit CIPSearch(QWidget *parent = nullptr);
    void setDevices(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int rawCount);

signals:
    void sig_ListDevice();
    void sig_ModifyIP();

private:
    QTableWidget *m_table = nullptr;
};
