#pragma once
// Changes the address, mask and gateway of one device or of a batch, without
// logging in. Each device's outcome leaves through ChangerIPResult.

#include "DeviceRecords.h"
#include "CFramelessDialog.h"

class CIPLineEdit;
class QCheckBox;
class QLabel;
class QPushButton;

class CChangerIPDlg final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CChangerIPDlg)

public:
    explicit CChangerIPDlg(QWidget *parent = nullptr);

    // |records| points at |count| consecutive records the caller keeps alive
    // while the dialog runs; |channel| comes back unchanged in single mode.
    void setUp(scoutrix::NetInfo *records, int channel, bool batch, int count);

    CIPLineEdit *ipEdit() const { return m_editIP; }
    CIPLineEdit *maskEdit() const { return m_editMask; }
    CIPLineEdit *gatewayEdit() const { return m_editGateway; }
    QString warningText() const;

signals:
    void ChangerIPResult(int Result, int Channel, QString ip);

public slots:
    void slot_OK();
    void slot_Close();
    void updateWarnings();

private:
    void fillFrom(const scoutrix::NetInfo &record);
    void writeOctets(const CIPLineEdit *edit, uint8_t out[4]) const;
    int send(scoutrix::NetInfo &record);

    scoutrix::NetInfo *m_records = nullptr;
    int m_channel = 0;
    bool m_batch = false;
    int m_count = 0;

    CIPLineEdit *m_editIP = nullptr;
    CIPLineEdit *m_editMask = nullptr;
    CIPLineEdit *m_editGateway = nullptr;
    QCheckBox *m_checkSameIP = nullptr;
    QLabel *m_labDeviceNum = nullptr;
    QLabel *m_labWarning = nullptr;
};
