#pragma once
// Answers the modal windows that the code under test opens, so that a test
// can drive flows that ask or warn without a person at the keyboard.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace testsupport {

// Answers every message box that comes up with |button|, counting them and
// keeping the last text.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button)
        : m_button(button)
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++count;
                lastText = box->text();
                if (QAbstractButton *b = box->button(m_button))
                    b->click();
                else
                    box->reject();
            }
        });
        m_timer.start();
    }
    int count = 0;
    QString lastText;

private:
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};

// Calls |handle| with the first modal window of type T that comes up, once;
// the handler is expected to close it.
template<typename T>
class ModalHandler : public QObject
{
public:
    explicit ModalHandler(std::function<void(T *)> handle)
        : m_handle(std::move(handle))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget())) {
                ++count;
                m_handle(w);
            }
        });
        m_timer.start();
    }
    int count = 0;

private:
    std::function<void(T *)> m_handle;
    QTimer m_timer;
};

} // namespace testsupport
