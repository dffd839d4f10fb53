#include "platform/pitch_track.h"

#include "platform/media_errors.h"

#include <aubio/aubio.h>
#include <memory>

namespace nagisora {
namespace {

// 1024 samples (23 ms at 44.1 kHz) hold the two periods that YIN needs down to 90 Hz, far below the lowest
// shakuhachi notes, and short enough for the quickest notes of a score; a hop of 256 places
// each frame to 6 ms.
constexpr uint_t WindowSize = 1024;
constexpr uint_t HopSize = 256;
// The pitch is followed down into a struck note's decay; beginnings are looked for only in the louder parts,
// above the breath between notes.
constexpr smpl_t PitchSilenceDb = -60;
constexpr smpl_t OnsetSilenceDb = -45;
// Below this the detector's own confidence marks breath and noise rather than a tone.
constexpr smpl_t MinConfidence = 0.6;

struct SourceFree {
    void operator()(aubio_source_t* s) const { del_aubio_source(s); }
};
struct PitchFree {
    void operator()(aubio_pitch_t* p) const { del_aubio_pitch(p); }
};
struct OnsetFree {
    void operator()(aubio_onset_t* o) const { del_aubio_onset(o); }
};
struct VectorFree {
    void operator()(fvec_t* v) const { del_fvec(v); }
};

} // namespace

TakeAnalysis TrackTake(const std::string& wavPath) {
    const std::unique_ptr<aubio_source_t, SourceFree> source{new_aubio_source(wavPath.c_str(), 0, HopSize)};
    if (!source) ThrowMediaError(MediaCode::FileUnreadable, wavPath);
    const uint_t rate = aubio_source_get_samplerate(source.get());
    const std::unique_ptr<aubio_pitch_t, PitchFree> pitch{new_aubio_pitch("yin", WindowSize, HopSize, rate)};
    const std::unique_ptr<aubio_onset_t, OnsetFree> onset{
        new_aubio_onset("specflux", WindowSize, HopSize, rate)};
    if (!pitch || !onset) ThrowMediaError(MediaCode::FileUnreadable, wavPath);
    aubio_pitch_set_unit(pitch.get(), "midi");
    aubio_pitch_set_silence(pitch.get(), PitchSilenceDb);
    aubio_onset_set_silence(onset.get(), OnsetSilenceDb);
    const std::unique_ptr<fvec_t, VectorFree> in{new_fvec(HopSize)};
    const std::unique_ptr<fvec_t, VectorFree> out{new_fvec(1)};
    const std::unique_ptr<fvec_t, VectorFree> found{new_fvec(1)};

    TakeAnalysis take;
    // A frame's pitch is that of the window ending with the hop just read: it is placed at the window's
    // middle.
    const double centre = static_cast<double>(WindowSize) / 2.0;
    std::uint64_t read = 0;
    uint_t got = 0;
    do {
        aubio_source_do(source.get(), in.get(), &got);
        read += got;
        aubio_pitch_do(pitch.get(), in.get(), out.get());
        const smpl_t midi = out->data[0];
        const bool voiced = midi > 0 && aubio_pitch_get_confidence(pitch.get()) >= MinConfidence;
        take.frames.push_back(PitchFrame{(static_cast<double>(read) - centre) / rate,
                                         voiced ? static_cast<double>(midi) : 0.0});
        aubio_onset_do(onset.get(), in.get(), found.get());
        if (found->data[0] != 0) take.onsets.push_back(aubio_onset_get_last_s(onset.get()));
    } while (got == HopSize);
    return take;
}

struct LivePitch::State {
    unsigned rate;
    std::unique_ptr<aubio_pitch_t, PitchFree> pitch;
    std::unique_ptr<fvec_t, VectorFree> in{new_fvec(HopSize)};
    std::unique_ptr<fvec_t, VectorFree> out{new_fvec(1)};
    uint_t filled = 0;
    std::uint64_t read = 0;
};

LivePitch::LivePitch(unsigned sampleRate)
    : state_(new State{sampleRate, std::unique_ptr<aubio_pitch_t, PitchFree>{
                                       new_aubio_pitch("yin", WindowSize, HopSize, sampleRate)}}) {
    if (!state_->pitch) ThrowMediaError(MediaCode::FileUnreadable, "aubio");
    aubio_pitch_set_unit(state_->pitch.get(), "midi");
    aubio_pitch_set_silence(state_->pitch.get(), PitchSilenceDb);
}

LivePitch::~LivePitch() = default;

bool LivePitch::Push(float sample) {
    state_->in->data[state_->filled++] = sample;
    ++state_->read;
    return state_->filled == HopSize;
}

PitchFrame LivePitch::Frame() {
    State& s = *state_;
    s.filled = 0;
    aubio_pitch_do(s.pitch.get(), s.in.get(), s.out.get());
    const smpl_t midi = s.out->data[0];
    const bool voiced = midi > 0 && aubio_pitch_get_confidence(s.pitch.get()) >= MinConfidence;
    const double centre = static_cast<double>(WindowSize) / 2.0;
    return PitchFrame{(static_cast<double>(s.read) - centre) / s.rate,
                      voiced ? static_cast<double>(midi) : 0.0};
}

} // namespace nagisora
