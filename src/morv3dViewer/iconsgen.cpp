// Writes the icon files that the desktop installation needs, from the pictures drawn in code:
// OUTDIR/<size>x<size>/{apps/morv3dViewer.png, mimetypes/application-x-morv3d.png}.
#include <QDir>
#include <QImage>
#include <cstdio>

#include "pictures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: morv3dviewer_icons OUTDIR\n");
        return 2;
    }
    const QString strOut = QString::fromLocal8Bit(argv[1]);
    for (const int nSize : {16, 32}) {
        const QString strDir = strOut + QStringLiteral("/%1x%1").arg(nSize);
        if (!QDir().mkpath(strDir + QStringLiteral("/apps")) ||
            !QDir().mkpath(strDir + QStringLiteral("/mimetypes")) ||
            !ApplicationIconImage(nSize).save(strDir + QStringLiteral("/apps/morv3dViewer.png")) ||
            !DocumentIconImage(nSize).save(strDir +
                                           QStringLiteral("/mimetypes/application-x-morv3d.png"))) {
            std::fprintf(stderr, "morv3dviewer_icons: cannot write into %s\n", argv[1]);
            return 1;
        }
    }
    return 0;
}
