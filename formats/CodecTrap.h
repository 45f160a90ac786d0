// The way back from a C codec that reports errors by jumping (libjpeg, libpng):
// the codec's callbacks note why they stop and jump to the trap; once back in
// C++ the reason is raised as the format's exception. Each codec's own glue
// (where it keeps the trap, which messages it has) stays with its format.
#pragma once

#include "image/FileFormats.h"
#include "image/PGMessages.h"
#include "image/PGTypes.h"

#include <csetjmp>
#include <cstring>
#include <exception>
#include <string>

namespace rastova {

inline constexpr const char* kInvalidLibraryVersion = "Invalid library version";

enum class TCodecStop { None, CodecError, Warning, Cancelled, VersionMismatch, Exception };

struct TCodecTrap {
    std::jmp_buf jump;
    // False while the codec creates its structures, when it recovers from its own errors.
    bool armed = false;
    TPGWarningAction warningAction = pgwaRaise;
    TCodecStop stop = TCodecStop::None;
    char message[256] = {};
    // An exception of the stream or the question function, kept while the codec's
    // C frames are skipped and raised again once we are back in C++.
    std::exception_ptr exception;

    void KeepMessage(const char* text)
    {
        std::strncpy(message, text != nullptr ? text : "", sizeof message - 1);
        message[sizeof message - 1] = '\0';
    }

    // For a catch block in a callback: whatever was thrown must not cross the codec's frames.
    void KeepException()
    {
        exception = std::current_exception();
        stop = TCodecStop::Exception;
    }

    // Asks the host whether the warning in `message` may be passed over; when not,
    // notes why the coding stops. Every C++ object of the question lives and dies
    // in here, before a caller jumps.
    bool WarningAllowsGoingOn(const char* formatName)
    {
        try {
            if (WarningAllowsContinue(warningAction, message, std::string(formatName) + " " + MessageText(kMsgWarning)))
                return true;
            stop = warningAction == pgwaRaise ? TCodecStop::Warning : TCodecStop::Cancelled;
        } catch (...) {
            KeepException();
        }
        return false;
    }

    [[noreturn]] void JumpBack() { std::longjmp(jump, 1); }
};

// The only place that sets the jump target. It holds no object with a destructor,
// and the calls it makes are codec calls whose callbacks jump only from frames
// without live C++ objects. False when the codec jumped back or noted a stop.
template <typename TCall>
bool Trapped(TCodecTrap& trap, TCall& call)
{
    trap.armed = true;
    if (setjmp(trap.jump) != 0) {
        trap.armed = false;
        return false;
    }
    call();
    trap.armed = false;
    return trap.stop == TCodecStop::None;
}

// Raises why the codec stopped as TError, its text after the format's tag.
template <typename TError>
[[noreturn]] void RaiseStop(const TCodecTrap& trap, const char* tag)
{
    switch (trap.stop) {
    case TCodecStop::Exception: std::rethrow_exception(trap.exception);
    case TCodecStop::Cancelled: throw TError(tag + MessageText(kMsgOperationAborted));
    case TCodecStop::VersionMismatch: throw TError(std::string(tag) + kInvalidLibraryVersion);
    default: throw TError(tag + std::string(trap.message));
    }
}

// Runs codec calls; a codec error or a stopping warning raises here.
template <typename TError, typename TCall>
void CallTrapped(TCodecTrap& trap, const char* tag, TCall& call)
{
    if (!Trapped(trap, call))
        RaiseStop<TError>(trap, tag);
}

}  // namespace rastova
