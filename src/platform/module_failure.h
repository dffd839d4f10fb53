#pragma once

// A Failure as it crosses from a loadable module to its loader: the module fills a NagisoraFailure, the
// loader throws the same Failure again. Shared by the modules and their loaders, which are built together.

#include "core/failure.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
struct NagisoraFailure {
    int kind;           // nagisora::FailureKind
    int code;           // the IoCode or MediaCode of the kind; 0: none
    int systemError;    // the operating system's error number; 0: none
    char message[1024]; // UTF-8, NUL-terminated, cut where a character begins
};
}

namespace nagisora {

inline void PassFailure(const Failure& failure, NagisoraFailure& out) noexcept {
    out.kind = static_cast<int>(failure.Kind());
    out.code = failure.FileCode()         ? static_cast<int>(*failure.FileCode())
               : failure.MediaErrorCode() ? static_cast<int>(*failure.MediaErrorCode())
                                          : 0;
    out.systemError = failure.SystemError();
    const std::string& text = failure.Message();
    std::size_t length = std::min(text.size(), sizeof out.message - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length; // never split a UTF-8 sequence
    std::memcpy(out.message, text.data(), length);
    out.message[length] = '\0';
}

inline Failure ReceivedFailure(const NagisoraFailure& in) {
    std::string message(in.message, ::strnlen(in.message, sizeof in.message));
    switch (static_cast<FailureKind>(in.kind)) {
    case FailureKind::File:
        return Failure::File(in.code != 0 ? std::optional(static_cast<IoCode>(in.code)) : std::nullopt,
                             in.systemError, std::move(message));
    case FailureKind::Media:
        return Failure::Media(static_cast<MediaCode>(in.code), std::move(message));
    case FailureKind::Refused:
        return Failure::Refused(std::move(message));
    case FailureKind::Replaced:
        return Failure::Replaced(std::move(message), {}, 0);
    case FailureKind::System:
        break;
    }
    return Failure::System(in.systemError, std::move(message));
}

} // namespace nagisora
