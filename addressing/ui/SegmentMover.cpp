#include "SegmentMover.h"

#include <QDebug>

#include "ConfigRecords.h"
#include "NetSdk.h"

namespace {
constexpr int SetTimeoutMs = 10000;
}

SegmentMover::SegmentMover(QObject *parent)
    : QThread(parent)
{
}

SegmentMover::~SegmentMover()
{
    cancel();
    wait();
}

bool SegmentMover::startJobs(std::vector<Job> jobs)
{
    if (isRunning())
        return false;
    m_jobs = std::move(jobs);
    m_cancel = false;
    start();
    return true;
}

int SegmentMover::send(scoutrix::NetInfo &record)
{
    const int result = NetSdk_SetConfigWithoutLogin(scoutrix::CmdNetWithoutLogin, -1, &record,
                                                    int32_t(sizeof(scoutrix::NetInfo)), SetTimeoutMs);
    qDebug() << "nRet = " << result;
    return result;
}

void SegmentMover::run()
{
    const int total = int(m_jobs.size());
    for (int k = 0; k < total && !m_cancel; ++k) {
        emit progress(k + 1, total);
        Job &job = m_jobs[size_t(k)];
        emit moved(job.index, send(job.record));
    }
    emit done();
}
