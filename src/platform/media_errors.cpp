#include "platform/media_errors.h"

namespace nagisora {

void ThrowMediaError(MediaCode code) {
    throw Failure::Media(code);
}

void ThrowMediaError(MediaCode code, const std::string& reason) {
    throw Failure::Media(code, MediaErrorText(code) + " (" + reason + ")");
}

MediaCode MediaCodeOf(const Failure& failure) {
    return failure.MediaErrorCode().value_or(MediaCode::Unknown);
}

} // namespace nagisora
