// pdemu-icon-files DIR: writes the program icon as DIR/pdemu-N.png at every
// size the desktop's icon theme has a folder for (N = 16 to 256, the list
// src/frontend/CMakeLists.txt installs), from the same drawing as the window's.
#include <QImage>
#include <QString>
#include <cstdio>

#include "frontend/Pictures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pdemu-icon-files DIR\n");
        return 2;
    }
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral("%1/pdemu-%2.png").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!drawProgramIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "pdemu-icon-files: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
