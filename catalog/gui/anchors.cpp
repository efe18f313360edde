#include "anchors.h"

#include <QEvent>

namespace tslcat {

TAnchors::TAnchors(QWidget *container, QSize designSize)
    : QObject(container), m_container(container), m_designSize(designSize)
{
    container->installEventFilter(this);
}

void TAnchors::Place(QWidget *widget, const QRect &design, TAnchorSet anchors)
{
    m_entries.push_back({widget, design, anchors});
    Apply();
}

void TAnchors::Apply()
{
    const int dx = m_container->width() - m_designSize.width();
    const int dy = m_container->height() - m_designSize.height();
    for (const Entry &e : m_entries) {
        if (!e.widget)
            continue;
        QRect r = e.design;
        if (e.anchors & akRight) {
            if (e.anchors & akLeft)
                r.setWidth(r.width() + dx);
            else
                r.moveLeft(r.left() + dx);
        }
        if (e.anchors & akBottom) {
            if (e.anchors & akTop)
                r.setHeight(r.height() + dy);
            else
                r.moveTop(r.top() + dy);
        }
        e.widget->setGeometry(r);
    }
}

bool TAnchors::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_container && event->type() == QEvent::Resize)
        Apply();
    return QObject::eventFilter(watched, event);
}

} // namespace tslcat
