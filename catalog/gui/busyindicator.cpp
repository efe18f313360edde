#include "busyindicator.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace tslcat {

TBusyAnimation::TBusyAnimation(QWidget *parent) : QWidget(parent)
{
    m_timer.setInterval(60);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrameCount;
        update();
    });
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TBusyAnimation::SetActive(bool active)
{
    if (active) {
        m_timer.start();
    } else {
        m_timer.stop();
        m_frame = kStopFrame;
    }
    update();
}

void TBusyAnimation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);

    // The folder, left of centre.
    const QRectF folder(width() * 0.12, height() * 0.30, width() * 0.42, height() * 0.50);
    QPainterPath tab;
    tab.addRoundedRect(
        QRectF(folder.left(), folder.top() - folder.height() * 0.18, folder.width() * 0.45, folder.height() * 0.3), 2,
        2);
    p.setPen(QPen(QColor(0x8a, 0x6d, 0x1e), 1));
    p.setBrush(QColor(0xe8, 0xb9, 0x3c));
    p.drawPath(tab);
    p.drawRoundedRect(folder, 2, 2);

    // The magnifying glass sweeps right of the folder, one circle per run.
    const qreal angle = 2 * M_PI * m_frame / kFrameCount;
    const QPointF centre(width() * 0.70 + std::cos(angle) * width() * 0.10,
                         height() * 0.45 + std::sin(angle) * height() * 0.15);
    const qreal radius = qMin(width(), height()) * 0.16;
    p.setBrush(QColor(0xcf, 0xe8, 0xff, 200));
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(radius * 0.7, radius * 0.7), centre + QPointF(radius * 1.6, radius * 1.6));
}

} // namespace tslcat
