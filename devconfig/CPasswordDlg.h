#pragma once
// Frameless credentials dialog, run by the main window and the configuration
// page. OK closes it and then hands on what was typed.

#include <QDialog>

#include <memory>

#include "FramelessDrag.h"

namespace Ui {
class CPasswordDlg;
}

class CPasswordDlg final : public QDialog
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
    void mouseButtonMove(QPoint pos);
    void signalMainWindowMove();
    void PasswordDlgChange(QString user, QString password);

public slots:
    void slotOK();
    void slotClose();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<Ui::CPasswordDlg> m_ui;
    FramelessDrag m_drag;
};
