// tslcat: the disc catalog's window.  Reads "mdb.dat" from the working
// directory once the window is up.
#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <cstring>

#include "systemiconlist.h"
#include "tform1.h"

namespace {

// The application icon (the same picture as data/tslcat.svg), drawn here
// so the window needs no image plug-in: a disc before an index card.
QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(QPen(QColor(0x8a, 0x7a, 0x3a), 2));
        p.setBrush(QColor(0xfd, 0xf6, 0xd8));
        p.drawRoundedRect(QRectF(6, 6, 38, 46), 3, 3);
        p.drawLine(12, 16, 38, 16);
        p.setPen(QPen(QColor(0xb8, 0xa8, 0x65), 2));
        p.drawLine(12, 23, 34, 23);
        p.drawLine(12, 30, 36, 30);
        p.drawLine(12, 37, 28, 37);
        QRadialGradient disc(QPointF(42, 42), 19);
        disc.setColorAt(0.20, QColor(0xf4, 0xf6, 0xf8));
        disc.setColorAt(0.55, QColor(0xb8, 0xc7, 0xd9));
        disc.setColorAt(0.80, QColor(0xd9, 0xc2, 0xe8));
        disc.setColorAt(1.00, QColor(0x9f, 0xb0, 0xc6));
        p.setPen(QPen(QColor(0x4a, 0x5a, 0x70), 2));
        p.setBrush(disc);
        p.drawEllipse(QPointF(42, 42), 19, 19);
        p.setPen(QPen(QColor(0x4a, 0x5a, 0x70), 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(42, 42), 6, 6);
        p.setBrush(QColor(0x4a, 0x5a, 0x70));
        p.drawEllipse(QPointF(42, 42), 2.5, 2.5);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

int main(int argc, char **argv)
{
    // Answered before QApplication exists, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tslcat %s\n", TSLCAT_VERSION);
            return 0;
        }
    }
    // The window was laid out for the classic Windows controls, whose group
    // boxes draw their caption on the frame line; the Windows style gives
    // the same room on every desktop.
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tslcat"));
    QApplication::setDesktopFileName(QStringLiteral("tslcat"));
    QApplication::setWindowIcon(ApplicationIcon());
    tslcat::SystemIconList::PrepareIconTheme();

    tslcat::TForm1 form;
    form.show();
    return app.exec();
}
