// The job's four choices, in the order of the window's radio items; the
// settings file stores them by these numbers.
#pragma once

namespace rastova {

enum TTargetFormat : int { tfBMP, tfJPG, tfPBM, tfPGM, tfPNG, tfPPM, tfTGA, tfTIF, tfWEBP, tfAVIF, tfHEIC, tfJXL };
inline constexpr int kTargetFormatCount = 12;
enum TJobColorResolution : int { jcr2Colors, jcr16Colors, jcr256Colors, jcrGray8, jcrTrueColor };
enum TJobMirror : int { jmNone, jmVertical, jmHorizontal };
enum TJobRotate : int { jrNone, jr180, jrLeft, jrRight };

}  // namespace rastova
