#include "PlayerView.h"

#include <QEvent>
#include <QPainter>

namespace scoutrix::play {

using Clock = std::chrono::steady_clock;

PlayerView::PlayerView(QWidget *target)
    : m_target(target)
{
    if (m_target) {
        m_target->installEventFilter(this);
        // The view draws every pixel itself.
        m_target->setAttribute(Qt::WA_OpaquePaintEvent);
    }
    m_stallTimer.setInterval(250);
    connect(&m_stallTimer, &QTimer::timeout, this, &PlayerView::checkStall);
    m_stallTimer.start();
}

PlayerView::~PlayerView()
{
    if (m_target) {
        m_target->removeEventFilter(this);
        m_target->setAttribute(Qt::WA_OpaquePaintEvent, false);
        m_target->update();
    }
}

void PlayerView::offer(QImage image)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_newest = std::move(image);
        m_lastOffer = Clock::now();
        m_everOffered = true;
    }
    ++m_offered;
    if (m_repaintPending.exchange(true))
        return; // a repaint is on its way and will take the newest picture
    QMetaObject::invokeMethod(this, [this] {
        m_repaintPending = false;
        if (m_target)
            m_target->update();
    }, Qt::QueuedConnection);
}

void PlayerView::clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_newest = QImage();
        m_everOffered = false;
    }
    m_stalled = false;
    if (m_target)
        m_target->update();
}

QImage PlayerView::newest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_newest;
}

void PlayerView::checkStall()
{
    bool stalled;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stalled = m_everOffered && Clock::now() - m_lastOffer > std::chrono::milliseconds(StallMs);
    }
    if (stalled != m_stalled) {
        m_stalled = stalled;
        if (m_target)
            m_target->update();
    }
}

bool PlayerView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_target && event->type() == QEvent::Paint) {
        paint();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void PlayerView::paint()
{
    const auto start = Clock::now();
    const QImage image = newest();
    QPainter p(m_target);
    const QRect area = m_target->rect();
    p.fillRect(area, Qt::black);
    if (!image.isNull()) {
        // The whole picture, as large as fits, never stretched.
        const QSize size = image.size().scaled(area.size(), Qt::KeepAspectRatio);
        const QRect target(QPoint(area.x() + (area.width() - size.width()) / 2,
                                  area.y() + (area.height() - size.height()) / 2),
                           size);
        p.setRenderHint(QPainter::SmoothPixmapTransform, size.width() < image.width());
        p.drawImage(target, image);
        ++m_drawn;
    }
    if (m_stalled) {
        const QString &text = m_stalledText;
        QFont f = p.font();
        f.setPointSize(12);
        p.setFont(f);
        const QRect band(area.x(), area.y() + area.height() / 2 - 18, area.width(), 36);
        p.fillRect(band, QColor(0, 0, 0, 170));
        p.setPen(Qt::white);
        p.drawText(band, Qt::AlignCenter, text);
    }
    m_lastDrawMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace scoutrix::play
