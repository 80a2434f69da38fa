#pragma once
// Runs a SystemBatch to its end and keeps everything it reported, for the
// tests against the SDK double and against the emulated fleet alike.

#include <QObject>
#include <QPair>
#include <QVector>

#include <functional>
#include <mutex>
#include <optional>

#include "SystemBatch.h"

namespace batchrun {

struct BatchRun
{
    QVector<scoutrix::syscfg::DeviceOutcome> outcomes;
    QVector<QPair<int, int>> progress;
    int applied = -1;
    bool cancelled = false;
    int asked = -1;
    int refused = -1;
    bool ended = false;

    const scoutrix::syscfg::DeviceOutcome *of(int index) const
    {
        for (const scoutrix::syscfg::DeviceOutcome &o : outcomes) {
            if (o.deviceIndex == index)
                return &o;
        }
        return nullptr;
    }
};

using Each = std::function<void(scoutrix::syscfg::SystemBatch &, const scoutrix::syscfg::DeviceOutcome &)>;

// |answer| is given to the question of the items that ask first; |each| sees
// every device's outcome on the worker that reports it.
inline BatchRun run(const scoutrix::syscfg::ItemRequest &request,
    const QVector<scoutrix::syscfg::BatchTarget> &targets, int jobs = scoutrix::syscfg::SystemBatch::DefaultJobs,
    std::optional<bool> answer = true, const Each &each = {})
{
    using scoutrix::syscfg::SystemBatch;
    BatchRun r;
    std::mutex m;
    SystemBatch batch;
    batch.setJobs(jobs);
    QObject::connect(&batch, &SystemBatch::deviceFinished, &batch, [&](const scoutrix::syscfg::DeviceOutcome &o) {
        std::lock_guard<std::mutex> lock(m);
        r.outcomes.append(o);
        if (each)
            each(batch, o);
    }, Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::progress, &batch, [&](int done, int total) {
        std::lock_guard<std::mutex> lock(m);
        r.progress.append({ done, total });
    }, Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::confirmationNeeded, &batch, [&](int n) {
        r.asked = n;
        if (answer)
            batch.confirm(*answer);
    }, Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::refusedForLogin, &batch, [&](int n) { r.refused = n; },
                     Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::finished, &batch, [&](int applied, bool cancelled) {
        r.applied = applied;
        r.cancelled = cancelled;
    }, Qt::DirectConnection);
    if (batch.start(request, targets))
        r.ended = batch.waitForFinished(60000);
    return r;
}

} // namespace batchrun
