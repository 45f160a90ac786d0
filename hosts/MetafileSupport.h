// Metafile playback for the conversion job's hosts. The player needs a GUI
// application object for its fonts; hosts without a window get an offscreen
// one, started only when the first metafile is loaded.
#pragma once

#include "job/ConversionJob.h"

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

}  // namespace rastova
