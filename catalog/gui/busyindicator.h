// TBusyAnimation: a small animation of a folder being searched, shown over
// the tree while the catalog loads or a disc is added.  It draws itself, so
// it needs nothing from the desktop.
#pragma once

#include <QTimer>
#include <QWidget>

namespace tslcat {

class TBusyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TBusyAnimation(QWidget *parent = nullptr);

    bool Active() const { return m_timer.isActive(); }
    void SetActive(bool active); // starts or stops; stopping shows the rest frame
    int Frame() const { return m_frame; }

    static constexpr int kFrameCount = 30;
    static constexpr int kStopFrame = 29;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_frame = kStopFrame;
};

} // namespace tslcat
