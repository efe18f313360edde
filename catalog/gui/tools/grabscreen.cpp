// Saves the screen of the X display, or one window of it, as a PNG:
//   tslcat-grabscreen FILE [WINDOW-ID]
// Used by scripts/screenshot.sh under Xvfb, where no screenshot tool may be
// installed.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: tslcat-grabscreen FILE.png [WINDOW-ID]\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "tslcat-grabscreen: no screen\n");
        return 1;
    }
    const WId window = argc == 3 ? WId(QByteArray(argv[2]).toULongLong(nullptr, 0)) : WId(0);
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tslcat-grabscreen: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
