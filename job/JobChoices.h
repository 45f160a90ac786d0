// The job's four choices, in the order of the window's radio items; the
// settings file stores them by these numbers.
#pragma once

namespace rastova {

enum TTargetFormat : int { tfBMP, tfJPG, tfPBM, tfPGM, tfPNG, tfPPM, tfTGA, tfTIF, tfWEBP, tfAVIF, tfHEIC, tfJXL };
inline constexpr int kTargetFormatCount = 12;
enum TJobColorResolution : int { jcr2Colors, jcr16Colors, jcr256Colors, jcrGray8, jcrTrueColor };
enum TJobMirror : int { jmNone, jmVertical, jmHorizontal };
enum TJobRotate : int { jrNone, jr180, jrLeft, jrRight };
// How 16 and 256 colours get their palette: the system colours and the median
// cut, or the best palette (image/BestPalette.h) of all the colours.
enum TJobQuantizer : int { jqMedianCut, jqBest };

}  // namespace rastova
