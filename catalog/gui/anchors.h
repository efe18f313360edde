// TAnchors: keeps child widgets at fixed distances from the edges of their
// container that they are anchored to, the way the window was designed:
// anchored left and right, a control stretches with the container; anchored
// right only, it moves with the right edge; likewise top and bottom.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

namespace tslcat {

enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchorSet = unsigned;

class TAnchors : public QObject {
public:
    // `designSize` is the container's client size the geometries below
    // were designed for.
    TAnchors(QWidget *container, QSize designSize);

    // Places `widget` at `design` (in the designed container) and keeps it
    // anchored from now on.
    void Place(QWidget *widget, const QRect &design, TAnchorSet anchors);

    // Lays out every placed widget for the container's current size.
    void Apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        QPointer<QWidget> widget;
        QRect design;
        TAnchorSet anchors;
    };
    QWidget *m_container; // non-owning; it owns us
    QSize m_designSize;
    std::vector<Entry> m_entries;
};

} // namespace tslcat
