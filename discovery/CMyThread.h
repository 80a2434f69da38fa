#pragma once
// A thread that runs one stored function with one stored context pointer.
// Set the pair before every start; a start while running does nothing.

#include <QThread>

class CMyThread : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CMyThread)

public:
    using Routine = int (*)(void *context);

    explicit CMyThread(QObject *parent = nullptr);
    ~CMyThread() override;

    void setRoutine(Routine routine, void *context);
    static void sleepMs(unsigned long ms) { QThread::msleep(ms); }

protected:
    void run() override;

private:
    Routine m_routine = nullptr;
    void *m_context = nullptr;
};
