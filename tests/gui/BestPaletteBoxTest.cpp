#include "gui/MainWindow.h"

#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <gtest/gtest.h>

namespace rastova {
namespace {

// The "Best palette" box chooses the job's quantiser and is kept for the next start.
TEST(BestPaletteBox, ChoosesTheQuantizerAndIsKept)
{
    test::TTempDir dir;
    const QString ini = QString::fromStdString((dir.Path() / "Rastova.ini").string());
    bool stored = false;  // what the settings file holds
    for (const bool checked : {true, false}) {
        TForm1 form(ini);
        form.SetAboutAtFirstActivation(false);
        EXPECT_EQ(form.BestPaletteBox()->isChecked(), stored);
        EXPECT_EQ(form.Host().Options().Quantizer, stored ? jqBest : jqMedianCut);
        form.BestPaletteBox()->setChecked(checked);
        EXPECT_EQ(form.Host().Options().Quantizer, checked ? jqBest : jqMedianCut);
        form.close();
        stored = checked;
    }
    TForm1 last(ini);
    EXPECT_FALSE(last.BestPaletteBox()->isChecked());
}

}  // namespace
}  // namespace rastova
