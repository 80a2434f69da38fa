#pragma once
// Frameless credentials dialog, run by the main window and the configuration
// page. OK closes it and then hands on what was typed.

#include <memory>

#include "CFramelessDialog.h"

namespace Ui {
class CPasswordDlg;
}

class CPasswordDlg final : public CFramelessDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPasswordDlg)

public:
    explicit CPasswordDlg(QWidget *parent = nullptr);
    ~CPasswordDlg() override;

    // Fills the user field, the password field and the title, in that order.
    void setCredentials(const QString &user, const QString &password, const QString &title);

    QString userText() const;
    QString passwordText() const;

signals:
    void PasswordDlgChange(QString user, QString password);

public slots:
    void slotOK();
    void slotClose();

private:
    std::unique_ptr<Ui::CPasswordDlg> m_ui;
};
