// Shows one image file in the picture control, for checking by eye:
//   rastova-viewcheck FILE [stretch 0..11] [fast|medium|precise] [tiling 0..4] [select]
// The display depth can be forced with RASTOVA_DISPLAY_DEPTH=4|8|24.
#include "view/PGImage.h"

#include "image/PGExceptions.h"

#include <QApplication>
#include <QMainWindow>

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
