#pragma once
// Draws a player's newest picture into a widget that paints nothing itself
// (the preview's view). Lives on the GUI thread; the decoding thread hands
// pictures over with offer(), which keeps only the newest and asks for one
// repaint however many pictures arrive before it runs, so nothing queues up
// behind a slow screen.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <mutex>

namespace scoutrix::play {

class PlayerView : public QObject
{
    Q_OBJECT

public:
    // How long without a picture before the view says the stream stopped.
    static constexpr int StallMs = 2000;

    explicit PlayerView(QWidget *target);
    ~PlayerView() override;

    QWidget *target() const { return m_target; }

    // Any thread.
    void offer(QImage image);
    // GUI thread: drops the picture (the view shows it is empty).
    void clear();
    void setStalledText(const QString &text) { m_stalledText = text; }

    // For tests and the benchmark.
    bool stalled() const { return m_stalled; }
    int64_t framesOffered() const { return m_offered.load(); }
    int64_t framesDrawn() const { return m_drawn; }
    double lastDrawMs() const { return m_lastDrawMs; }
    QImage newest() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void paint();
    void checkStall();

    QPointer<QWidget> m_target;
    mutable std::mutex m_mutex;
    QImage m_newest;
    std::chrono::steady_clock::time_point m_lastOffer;
    bool m_everOffered = false;
    std::atomic<bool> m_repaintPending { false };
    std::atomic<int64_t> m_offered { 0 };
    int64_t m_drawn = 0;
    double m_lastDrawMs = 0;
    bool m_stalled = false;
    QTimer m_stallTimer;
    QString m_stalledText = QStringLiteral("No video: the stream stopped");
};

} // namespace scoutrix::play
