// Shows one image file in the picture control, for checking by eye:
//   rastova-viewcheck FILE [stretch 0..11] [fast|medium|precise] [tiling 0..4] [select]
//   rastova-viewcheck --cursors OUT.png   (the four cursors at 1x and 2x, enlarged)
// The display depth can be forced with RASTOVA_DISPLAY_DEPTH=4|8|24.
#include "view/PGImage.h"

#include "image/PGExceptions.h"

#include <QApplication>
#include <QMainWindow>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rastova-viewcheck FILE [stretch] [fast|medium|precise] [tiling] [select]\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--cursors") == 0 && argc > 2) {
        // Each cursor at 1x and 2x, shown four times enlarged on a grey ground.
        QImage sheet(4 * 2 * 32 * 4 + 40, 32 * 4 * 2 / 2 + 20, QImage::Format_RGB32);
        sheet.fill(QColor(160, 160, 160));
        QPainter painter(&sheet);
        int x = 10;
        for (int i = 0; i < 4; ++i)
            for (qreal ratio : {1.0, 2.0}) {
                QImage image = rastova::ViewCursorPixmap(rastova::TViewCursor(i), ratio).toImage();
                image.setDevicePixelRatio(1.0);
                painter.drawImage(QRect(x, 10, 128, 128), image);
                x += 128 + 4;
            }
        painter.end();
        return sheet.save(argv[2]) ? 0 : 1;
    }
    QMainWindow window;
    auto* view = new rastova::TPGImage(&window);
    window.setCentralWidget(view);
    window.resize(640, 480);
    view->SetCenter(true);
    view->SetStretch(argc > 2 ? rastova::TStretch(std::atoi(argv[2])) : rastova::sShrinkKAR);
    if (argc > 3)
        view->SetStretchMode(std::strcmp(argv[3], "precise") == 0 ? rastova::smPrecise
                             : std::strcmp(argv[3], "medium") == 0 ? rastova::smMedium
                                                                     : rastova::smFast);
    if (argc > 4)
        view->SetTiling(rastova::TTiling(std::atoi(argv[4])));
    if (argc > 5 && std::strcmp(argv[5], "select") == 0) {
        view->SetActionMode(rastova::amMoveResizeCreateSelection);
        view->SetSelectionRect(10, 10, 60, 40);
        view->SetSelection(true);
    }
    try {
        view->LoadImageFile(argv[1], 0);
    } catch (const rastova::EPixelGraphic& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    window.setWindowTitle(QString("View - %1").arg(argv[1]));
    window.show();
    return app.exec();
}
