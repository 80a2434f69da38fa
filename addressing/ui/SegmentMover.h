#pragma once
// Sends the planned moves of a segment move, one device after the other, off
// the GUI thread: each SDK call may take its whole timeout. Progress and
// outcomes leave through signals, queued to the receivers' threads.

#include <QThread>

#include <atomic>
#include <vector>

#include "DeviceRecords.h"

class SegmentMover final : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SegmentMover)

public:
    struct Job
    {
        int index = 0;              // the caller's device index, handed back
        scoutrix::NetInfo record{}; // already holding the new address
    };

    explicit SegmentMover(QObject *parent = nullptr);
    // Cancels what is not sent yet and waits for the call under way.
    ~SegmentMover() override;

    // Starts sending |jobs|; false while a run is still under way.
    bool startJobs(std::vector<Job> jobs);
    // The jobs not yet sent are dropped; the one being sent finishes.
    void cancel() { m_cancel = true; }
    bool cancelled() const { return m_cancel; }

    // The SDK call of one move, on the calling thread.
    static int send(scoutrix::NetInfo &record);

signals:
    // Before device |number| (from 1) of |total| is sent.
    void progress(int number, int total);
    void moved(int index, int result);
    // After the last job (or after a cancel), always once per run.
    void done();

protected:
    void run() override;

private:
    std::vector<Job> m_jobs;
    std::atomic<bool> m_cancel{false};
};
