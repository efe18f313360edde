// Saves the whole screen of the X display as a PNG: tslcat-grabscreen FILE.
// Used by scripts/screenshot.sh under Xvfb, where no screenshot tool may be
// installed.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tslcat-grabscreen FILE.png\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "tslcat-grabscreen: no screen\n");
        return 1;
    }
    const QPixmap shot = screen->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "tslcat-grabscreen: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
