#pragma once
// The result notice: names the device, the operation and the outcome in
// words. Callers create it without a parent, run it modally and drop it.

#include <QPair>
#include <QStringList>
#include <QVector>

#include "CFramelessDialog.h"

class QGridLayout;
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
    // Every step of an exchange as (operation id, result code), in the order
    // they happened, one line each under the result: an item that makes
    // several changes on a device names each outcome, so one failure is never
    // hidden behind a later success.
    void setSteps(const QVector<QPair<int, int>> &steps);
    // The step lines as shown ("Onvif: successful").
    QStringList stepTexts() const;

public slots:
    void OnClose();

private:
    QLabel *m_labIP2 = nullptr;
    QLabel *m_labMode2 = nullptr;
    QLabel *m_labType2 = nullptr;
    QLabel *m_labDetail = nullptr;
    QGridLayout *m_grid = nullptr;
    QVector<QLabel *> m_stepLabels;
    QString m_detail;

    void fitHeight();
};
