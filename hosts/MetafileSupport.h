// Metafile playback for the conversion job's hosts. The player needs a GUI
// application object for its fonts; hosts without a window get an offscreen
// one, started only when the first metafile is loaded.
#pragma once

#include "job/ConversionJob.h"

#include <optional>
#include <string>

namespace rastova {

// True for the extensions the job plays as metafiles (".wmf", ".emf", any case).
bool IsMetafileName(const std::string& fileName);

// The holder of a host without a window; it lives as long as the program.
TMetafileHolder& WindowlessMetafileHolder();

// Starts the offscreen GUI application on the calling thread, which should be
// the main one; hosts that convert on worker threads call it before the run.
// The holder starts it itself when nobody did.
void StartMetafilePlayback();

// The one-line description of a metafile ("File info: Enhanced Metafile, 401x302
// pixeles, colors: 256"); nullopt when the name is not a metafile's. `ok` is
// false when the file cannot be played.
std::optional<std::string> DescribeMetafile(const std::string& fileName, bool& ok);

}  // namespace rastova
