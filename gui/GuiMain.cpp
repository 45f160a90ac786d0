// rastova: the desktop application.
#include "gui/About.h"
#include "gui/Dialogs.h"
#include "gui/JQuality.h"
#include "gui/MainWindow.h"
#include "hosts/MetafileSupport.h"
#include "gui/Settings.h"
#include "gui/ShellControls.h"
#include "gui/StartArguments.h"
#include "gui/View.h"
#include "formats/Register.h"
#include "image/FileFormats.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// Qt aborts when it finds no display; say what is wrong instead.
bool DisplayAvailable()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// --version and --help answer without a display; anything else is a file or folder to open.
bool AnsweredWithoutWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("rastova %s\n", RASTOVA_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: rastova [FILE...|FOLDER]\n"
                        "Opens the batch converter's window on FOLDER, or on the folder of the first FILE\n"
                        "with the FILEs selected; without arguments on the folder of the last session.\n"
                        "  --version  print the version and exit\n");
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace rastova;
    if (AnsweredWithoutWindow(argc, argv))
        return 0;
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
    OpenStartPlace(*form1.PTSList1(), StartPlaceOf(QApplication::arguments().mid(1)));
    form1.show();
    form1.activateWindow();
    return QApplication::exec();
}
