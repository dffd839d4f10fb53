#include "core/practice_report.h"

#include "core/score_part.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nagisora {
namespace {

// The events count 120 ticks a beat; the image's division is the tempo, at 0.5 s a quarter note.
constexpr double TicksPerBeat = 120.0;

// A tone counts as begun once it has held for this long; shorter glitches are passed over.
constexpr double SteadyRunSeconds = 0.04;
// A frame belongs to a note while it lies within this of the key heard (a played tone never strays further).
constexpr double SameToneCents = 60.0;
// The onset of the first note lies this far around the beginning of its tone (the tone is found once a
// window of the detector holds it).
constexpr double FirstOnsetBefore = 0.1;
constexpr double FirstOnsetAfter = 0.05;
// About the time between two frames of a pitch tracker.
constexpr double FrameStep = 0.006;
// The steady part of a note leaves out its attack and its release.
constexpr double AttackShare = 0.25;
constexpr double ReleaseShare = 0.15;
constexpr double MinAttackSeconds = 0.05;
// A frame's pitch is heard from this far either side of its time: frames nearer a note's ends hear its
// neighbours too.
constexpr double FrameReachSeconds = 0.012;
// Where a note's beginning is looked for around its beat: half the note, at least and at most these.
constexpr double MinSearchSeconds = 0.15;
constexpr double MaxSearchSeconds = 0.4;

struct ExpectedNote {
    double start = 0; // seconds from the first note's beginning
    double end = 0;
    std::int32_t key = 0;
    std::size_t event = 0;
};

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2.0;
}

std::size_t FirstFrameAt(const std::vector<PitchFrame>& frames, double seconds) {
    return static_cast<std::size_t>(
        std::lower_bound(frames.begin(), frames.end(), seconds,
                         [](const PitchFrame& f, double t) { return f.seconds < t; }) -
        frames.begin());
}

// Whether the frames from i on hold one tone (within SameToneCents of frame i) for SteadyRunSeconds.
bool SteadyFrom(const std::vector<PitchFrame>& frames, std::size_t i) {
    if (frames[i].midi <= 0) return false;
    for (std::size_t j = i; j < frames.size() && frames[j].seconds - frames[i].seconds < SteadyRunSeconds;
         ++j)
        if (frames[j].midi <= 0 || std::abs(frames[j].midi - frames[i].midi) * 100.0 > SameToneCents)
            return false;
    return true;
}

// The take's first tone: the first frame from which a tone holds.
std::optional<double> FirstTone(const std::vector<PitchFrame>& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (SteadyFrom(frames, i)) return frames[i].seconds;
    return std::nullopt;
}

// Where the take's first note begins: the onset found at its first tone, else the tone's own beginning.
std::optional<double> TakeStart(const TakeAnalysis& take) {
    const std::optional<double> tone = FirstTone(take.frames);
    if (!tone) return std::nullopt;
    for (const double at : take.onsets)
        if (at >= *tone - FirstOnsetBefore && at <= *tone + FirstOnsetAfter) return at;
    return tone;
}

// The places where a new tone begins: a steady tone after no tone or after another tone.
std::vector<double> ToneEntries(const std::vector<PitchFrame>& frames) {
    std::vector<double> entries;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool changed = i == 0 || frames[i - 1].midi <= 0 ||
                             std::abs(frames[i].midi - frames[i - 1].midi) * 100.0 > SameToneCents;
        if (changed && SteadyFrom(frames, i)) entries.push_back(frames[i].seconds);
    }
    return entries;
}

// The candidate nearest to the beat within the window around it.
std::optional<double> Nearest(std::span<const double> candidates, double beat, double window) {
    std::optional<double> best;
    for (const double at : candidates)
        if (std::abs(at - beat) <= window && (!best || std::abs(at - beat) < std::abs(*best - beat)))
            best = at;
    return best;
}

// The median deviation from the key over the frames between from and to that hold a tone near it.
std::optional<double> MedianCents(const std::vector<PitchFrame>& frames, double from, double to,
                                  std::int32_t key) {
    std::vector<double> cents;
    for (std::size_t i = FirstFrameAt(frames, from); i < frames.size() && frames[i].seconds < to; ++i)
        if (frames[i].midi > 0 && std::abs(frames[i].midi - key) < 6.0)
            cents.push_back((frames[i].midi - key) * 100.0);
    if (cents.empty()) return std::nullopt;
    return Median(std::move(cents));
}

std::vector<ExpectedNote> ExpectedNotes(std::span<const NoteEvent> events,
                                        const ConversionSettings& settings) {
    const double secondsPerTick = 0.5 / settings.tempo;
    std::vector<ExpectedNote> notes;
    for (const SoundingNote& n : NotesSounding(events, settings)) {
        if (n.end <= n.start) continue; // never sounds
        notes.push_back(ExpectedNote{static_cast<double>(n.start) * secondsPerTick,
                                     static_cast<double>(n.end) * secondsPerTick, n.key, n.event});
    }
    const double first = notes.empty() ? 0.0 : notes.front().start; // times from the first note's beginning
    for (ExpectedNote& n : notes) {
        n.start -= first;
        n.end -= first;
    }
    return notes;
}

std::string Signed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.0f", value);
    return text;
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::abs(value) < 0.05 ? 0.0 : value);
    return text;
}

} // namespace

std::vector<PlayedNote> PracticeReport(std::span<const NoteEvent> events, const ConversionSettings& settings,
                                       const ScoreMap& map, std::span<const std::string_view> lines,
                                       const TakeAnalysis& take) {
    const std::vector<ExpectedNote> expected = ExpectedNotes(events, settings);
    const double beatSeconds = 60.0 / settings.tempo;
    const std::optional<double> firstTone = TakeStart(take);
    const std::vector<double> entries = ToneEntries(take.frames);

    // Where each note was found to begin, first for all of them: a note ends where the next one began.
    std::vector<std::optional<double>> onsets(expected.size());
    if (firstTone)
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const ExpectedNote& n = expected[k];
            const double window = std::clamp((n.end - n.start) / 2.0, MinSearchSeconds, MaxSearchSeconds);
            // The onset detector places beginnings best, repeated notes of one key too; the tone's own
            // beginning stands in where it found none.
            onsets[k] = k == 0 ? firstTone : Nearest(take.onsets, *firstTone + n.start, window);
            if (!onsets[k]) onsets[k] = Nearest(entries, *firstTone + n.start, window);
        }

    std::vector<PlayedNote> report;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const ExpectedNote& n = expected[k];
        PlayedNote played;
        played.number = static_cast<std::int32_t>(k + 1);
        played.key = n.key;
        if (n.event < map.events.size()) played.at = SpanOf(map.events[n.event].pitch, lines);
        if (firstTone) {
            const double beat = *firstTone + n.start;
            if (onsets[k]) played.lateMs = (*onsets[k] - beat) * 1000.0;
            const double begin = onsets[k].value_or(beat);
            double length = n.end - n.start;
            if (k + 1 < expected.size() && onsets[k + 1] && *onsets[k + 1] > begin)
                length = std::min(length, *onsets[k + 1] - begin);
            const double from = begin + std::max(MinAttackSeconds, length * AttackShare);
            const double to = begin + length - std::max(FrameReachSeconds, length * ReleaseShare);
            // A note too short for a steady part is read at its middle.
            played.cents = from < to ? MedianCents(take.frames, from, to, n.key)
                                     : MedianCents(take.frames, begin + length / 2.0 - FrameStep,
                                                   begin + length / 2.0 + FrameStep, n.key);
        }
        const bool offBeat = played.lateMs && std::abs(*played.lateMs) > FarOutMs &&
                             std::abs(*played.lateMs) > beatSeconds * 1000.0 / 8.0;
        played.farOut = !played.cents || std::abs(*played.cents) > FarOutCents || offBeat;
        report.push_back(played);
    }
    return report;
}

void MoveTakeToKeys(TakeAnalysis& take, std::span<const NoteEvent> events, std::int32_t pipeSemitones) {
    std::vector<double> heard;
    for (const PitchFrame& f : take.frames)
        if (f.midi > 0) heard.push_back(f.midi - pipeSemitones);
    std::vector<double> keys;
    for (const NoteEvent& e : events)
        if (e.IsNote()) keys.push_back(e.key);
    if (heard.empty() || keys.empty()) return;
    const double octaves = std::round((Median(std::move(heard)) - Median(std::move(keys))) / 12.0);
    const double shift = pipeSemitones + 12.0 * octaves;
    for (PitchFrame& f : take.frames)
        if (f.midi > 0) f.midi -= shift;
}

std::string PracticeReportText(std::span<const PlayedNote> notes) {
    std::string text;
    for (const PlayedNote& n : notes) {
        text += std::to_string(n.number) + ' ' + std::to_string(n.at.line) + ':' +
                std::to_string(n.at.column) + " key " + std::to_string(n.key) + ": ";
        text += n.cents ? Signed(*n.cents) + " cents" : std::string("not heard");
        if (n.lateMs) text += ", " + Signed(*n.lateMs) + " ms";
        if (n.farOut) text += " far out";
        text += '\n';
    }
    return text;
}

std::string PracticeReportJson(std::span<const PlayedNote> notes) {
    std::string json = "[";
    for (const PlayedNote& n : notes) {
        json += (n.number == 1 ? "\n" : ",\n");
        json += "{\"note\":" + std::to_string(n.number) + ",\"line\":" + std::to_string(n.at.line) +
                ",\"column\":" + std::to_string(n.at.column) + ",\"key\":" + std::to_string(n.key) +
                ",\"cents\":" + (n.cents ? Fixed(*n.cents) : "null") +
                ",\"late_ms\":" + (n.lateMs ? Fixed(*n.lateMs) : "null") +
                ",\"flag\":" + (n.farOut ? "true" : "false") + '}';
    }
    json += notes.empty() ? "]\n" : "\n]\n";
    return json;
}

} // namespace nagisora
