#pragma once
// The batch dialog of the upgrade page: one file for every checked device.
// OK stays disabled until a readable file has been chosen.

#include <functional>

#include "CFramelessDialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

class CUpgradeLoad final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CUpgradeLoad)

public:
    // Asks for a file; empty when the user gave none.
    using FileChooser = std::function<QString(QWidget *parent)>;

    CUpgradeLoad(QWidget *parent, int selected, FileChooser chooser);
    ~CUpgradeLoad() override;

    QString path() const;
    bool okEnabled() const;

signals:
    void sig_OpenUpgradePath(QString fileName);

public slots:
    void Slot_OnBrowse();
    void Slot_OK();
    void OnClose();

private:
    FileChooser m_chooser;
    QLineEdit *m_path = nullptr;
    QLabel *m_count = nullptr;
    QPushButton *m_btnOK = nullptr;
};
