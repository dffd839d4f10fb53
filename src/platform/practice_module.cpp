// The loadable module that tracks the pitch of a take for the command-line converter, which loads it only for
// --practice-report: a plain conversion never pays for loading aubio and its decoders.

#include "platform/practice_module.h"

#include "platform/media_errors.h"
#include "platform/pitch_track.h"

#include <exception>
#include <string>

extern "C" int nagisora_track_take_v2(const char* wavPath, void* context, NagisoraPitchFrame frame,
                                      NagisoraOnset onset, NagisoraFailure* failure) {
    try {
        const nagisora::TakeAnalysis take = nagisora::TrackTake(wavPath);
        for (const nagisora::PitchFrame& f : take.frames)
            frame(context, f.seconds, f.midi);
        for (const double at : take.onsets)
            onset(context, at);
        return 0;
    } catch (const nagisora::Failure& f) {
        nagisora::PassFailure(f, *failure);
    } catch (const std::exception&) {
        nagisora::PassFailure(
            nagisora::Failure::Media(nagisora::MediaCode::FileUnreadable, nagisora::UnknownMediaErrorText),
            *failure);
    }
    return 1;
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
