// The loadable module that tracks the pitch of a take for the command-line converter, which loads it only for
// --practice-report: a plain conversion never pays for loading aubio and its decoders.

#include "practice_module.h"

#include "media_errors.h"
#include "pitch_track.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

namespace {

void CopyMessage(const std::string& text, char* out, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t length = std::min(text.size(), capacity - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length; // never split a UTF-8 sequence
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

} // namespace

extern "C" int nagisora_track_take_v1(const char* wavPath, void* context, NagisoraPitchFrame frame,
                                      NagisoraOnset onset, char* message, std::size_t messageCapacity) {
    try {
        const nagisora::TakeAnalysis take = nagisora::TrackTake(wavPath);
        for (const nagisora::PitchFrame& f : take.frames)
            frame(context, f.seconds, f.midi);
        for (const double at : take.onsets)
            onset(context, at);
        CopyMessage({}, message, messageCapacity);
        return 0;
    } catch (const nagisora::Failure& failure) {
        CopyMessage(failure.Message(), message, messageCapacity);
        return failure.Code() != 0 ? failure.Code()
                                   : nagisora::CodeNumber(nagisora::MediaCode::FileUnreadable);
    } catch (const std::exception&) {
        CopyMessage(nagisora::UnknownMediaErrorText, message, messageCapacity);
        return nagisora::CodeNumber(nagisora::MediaCode::FileUnreadable);
    }
}

struct NagisoraLivePitch {
    nagisora::LivePitch tracker;
};

extern "C" NagisoraLivePitch* nagisora_live_pitch_open_v1(unsigned sampleRate) {
    try {
        return new NagisoraLivePitch{nagisora::LivePitch(sampleRate)};
    } catch (const std::exception&) {
        return nullptr;
    }
}

extern "C" void nagisora_live_pitch_feed_v1(NagisoraLivePitch* tracker, const float* samples,
                                            std::size_t count, void* context, NagisoraPitchFrame frame) {
    tracker->tracker.Feed(samples, count,
                          [&](const nagisora::PitchFrame& f) { frame(context, f.seconds, f.midi); });
}

extern "C" void nagisora_live_pitch_close_v1(NagisoraLivePitch* tracker) {
    delete tracker;
}
