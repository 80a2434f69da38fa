#pragma once
// The result notice: names the device, the operation and the outcome in
// words. Callers create it without a parent, run it modally and drop it.

#include "CFramelessDialog.h"

class QLabel;
class QPushButton;

class CToolTips final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CToolTips)

public:
    // |reserved| is accepted for the callers' sake and not used.
    CToolTips(QWidget *parent, const QString &device, int result, int operation, int reserved = 0);

    QString deviceText() const;
    QString operationText() const;
    QString resultText() const;
    QString detailText() const;
    // A line under the result saying more (which device holds an address).
    void setDetail(const QString &detail);

public slots:
    void OnClose();

private:
    QLabel *m_labIP2 = nullptr;
    QLabel *m_labMode2 = nullptr;
    QLabel *m_labType2 = nullptr;
    QLabel *m_labDetail = nullptr;
};
