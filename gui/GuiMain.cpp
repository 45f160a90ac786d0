// rastova: the desktop application.
#include "gui/About.h"
#include "gui/Dialogs.h"
#include "gui/JQuality.h"
#include "gui/MainWindow.h"
#include "hosts/MetafileSupport.h"
#include "gui/Settings.h"
#include "gui/View.h"
#include "formats/Register.h"
#include "image/FileFormats.h"

#include <QApplication>

#include <cstdio>

namespace {

// Qt aborts when it finds no display; say what is wrong instead.
bool DisplayAvailable()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace rastova;
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "rastova: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "use rastova-convert for batch conversion without a window\n");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(kApplicationTitle);
    PGInitialize();
    InstallLibraryQuestions();

    TForm1 form1(SettingsFilePath(QApplication::applicationDirPath()));
    TForm2 form2(&form1);
    TForm3 form3(&form1);
    TForm4 form4(&form1);
    form1.SetDialogs(&form2, &form3, &form4);
    form1.Host().SetMetafileHolder(&WindowlessMetafileHolder());
    form4.SetMetafileHolder(&WindowlessMetafileHolder());
    form1.show();
    form1.activateWindow();
    return QApplication::exec();
}
