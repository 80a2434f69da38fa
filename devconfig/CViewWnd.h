#pragma once
// The live view of the camera page. While the player draws into it (through
// its native window) the player paints every frame; otherwise the view
// shows a dark field and, when there is one, the reason it is empty.

#include <QString>
#include <QWidget>

class CViewWnd final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CViewWnd)

public:
    explicit CViewWnd(QWidget *parent = nullptr);

    // The native window handle the player draws into.
    uintptr_t nativeHandle();

    void setMessage(const QString &text);
    QString message() const { return m_message; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_message;
};
