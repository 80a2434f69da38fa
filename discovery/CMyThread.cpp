#include "CMyThread.h"

CMyThread::CMyThread(QObject *parent)
    : QThread(parent)
{
}

CMyThread::~CMyThread()
{
    m_routine = nullptr;
    if (isRunning()) {
        exit(0);
        // The routine may still be inside a blocking SDK call that writes
        // into its owner's memory: the thread must not outlive that owner.
        wait();
    }
}

void CMyThread::setRoutine(Routine routine, void *context)
{
    m_routine = routine;
    m_context = context;
}

void CMyThread::run()
{
    if (m_routine)
        m_routine(m_context);
}
