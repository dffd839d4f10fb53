#pragma once

// Random well-formed scores (every measure full, tuplets on the beat, bar lines in both lines) and the
// writing mistakes a new user makes in them, with what the checker makes of each: the property tests of the
// checker and the program that measures it (bench/checker_mutations) share them.

#include "core/score_check.h"
#include "core/score_map.h"
#include "score_text.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace nagisora::test {

struct GeneratedScore {
    std::vector<std::string> lines; // code page 932
    std::vector<std::size_t> pitchLines;
};

// One score of 3 to 6 line sets in 2, 3 or 4 beats a measure, maybe with a pickup, timbre numbers over the
// first note of some sets, accidentals and register marks, rests and holds.
inline GeneratedScore GenerateScore(std::mt19937& random) {
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const int beats = 2 + pick(3);
    const bool barsUnderBars = pick(2) == 0;
    struct Beat {
        std::vector<const char*> durations;
        int length; // beats
    };
    static const std::vector<Beat> patterns = {
        {{"－"}, 1},
        {{"＋", "＋"}, 1},
        {{"＋", "＝", "＝"}, 1},
        {{"＝", "＝", "＋"}, 1},
        {{"＝", "＝", "＝", "＝"}, 1},
        {{"＋", "３", "＋"}, 1},
        {{"＝", "＝", "５", "＝", "＝"}, 1},
        {{"　"}, 2},
        {{"－", "３", "－"}, 2},
        {{"－", "＋", "＋"}, 2},
    };
    static const std::array<const char*, 7> notes = {"ロ", "ツ", "レ", "チ", "ハ", "ヒ", "リ"};
    GeneratedScore score;
    score.lines = {Sjis("//練習曲 " + std::to_string(beats) + " 拍子"), ""};
    const int sets = 3 + pick(4);
    bool first = true;
    for (int s = 0; s < sets; ++s) {
        std::string pitch;
        std::string duration;
        std::string timbre;
        const int measures = 2 + pick(3);
        for (int m = 0; m < measures; ++m) {
            int left = first && pick(3) == 0 ? 1 + pick(beats - 1) : beats;
            while (left > 0) {
                const Beat* beat =
                    &patterns[static_cast<std::size_t>(pick(static_cast<int>(patterns.size())))];
                if (beat->length > left) continue;
                left -= beat->length;
                for (std::size_t n = 0; n < beat->durations.size(); ++n) {
                    const int kind = pick(12);
                    const bool real = first || kind > 1;
                    // Accidentals and register marks before the first note of a beat, with a space under.
                    if (n == 0 && real && pick(20) == 0) {
                        pitch += pick(2) ? "＃" : "♭";
                        duration += "　";
                    } else if (n == 0 && real && pick(30) == 0) {
                        pitch += pick(2) ? "甲" : "乙";
                        duration += "　";
                    }
                    if (timbre.empty() && real && pick(3) == 0) {
                        timbre.assign(pitch.size() / 3 * 2, ' '); // UTF-8 pitch: three bytes a character
                        static const char* hex = "0123456789ABCDEF";
                        timbre += hex[pick(8)];
                        timbre += hex[pick(16)];
                    }
                    pitch += real ? notes[static_cast<std::size_t>(pick(7))] : kind == 0 ? "○" : "ー";
                    duration += beat->durations[n];
                    first = false;
                }
            }
            if (m + 1 < measures || pick(10) < 7) {
                pitch += "｜";
                duration += barsUnderBars ? "｜" : "　";
            }
        }
        score.lines.push_back(timbre);
        score.pitchLines.push_back(score.lines.size());
        score.lines.push_back(Sjis(pitch));
        score.lines.push_back(Sjis(duration));
        score.lines.push_back("");
    }
    return score;
}

// One mistake: bytes of one line replaced.
struct Mutation {
    const char* kind;
    std::size_t line; // from 0
    std::size_t byte;
    std::size_t removed;
    std::string inserted;

    std::string Applied(const std::string& text, std::size_t at) const {
        std::string mutated = text;
        mutated.replace(at, removed, inserted);
        return mutated;
    }
};

inline const std::vector<const char*>& MutationKinds() {
    static const std::vector<const char*> kinds = {
        "leading-half-width", "half-width-in-pitch", "half-width-in-duration",
        "dropped-note",       "extra-duration",      "dropped-duration",
        "extra-note",         "tuplet-marker-moved", "comment-after-pitch",
        "long-comment-above", "music-sharp",         "hold-in-duration"};
    return kinds;
}

// A mistake of the given kind in a random line set, or nothing when the score offers no place for it.
inline std::optional<Mutation> Mutate(const GeneratedScore& score, std::size_t kind, std::mt19937& random) {
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const std::size_t p = score.pitchLines[pick(score.pitchLines.size())];
    const std::string& pitch = score.lines[p];
    const std::string& duration = score.lines[p + 1];
    const auto unitsWhere = [&](const std::string& line, auto test) {
        std::vector<std::size_t> at;
        for (std::size_t b = 0; b + 1 < line.size(); b += 2)
            if (test(line.substr(b, 2))) at.push_back(b);
        return at;
    };
    const auto isNote = [](const std::string& u) {
        return u == Sjis("ロ") || u == Sjis("ツ") || u == Sjis("レ") || u == Sjis("チ") || u == Sjis("ハ") ||
               u == Sjis("ヒ") || u == Sjis("リ") || u == Sjis("○") || u == Sjis("ー");
    };
    const auto any = [&](const std::vector<std::size_t>& at) -> std::optional<std::size_t> {
        if (at.empty()) return std::nullopt;
        return at[pick(at.size())];
    };
    static const char* halfWidths[] = {" ", "a", "?"};
    switch (kind) {
    case 0:
        return Mutation{MutationKinds()[kind], p, 0, 0, halfWidths[pick(3) == 0 ? 0 : 2]};
    case 1:
        return Mutation{MutationKinds()[kind], p, 2 * pick(pitch.size() / 2 + 1), 0, halfWidths[pick(3)]};
    case 2: {
        const auto at = any(unitsWhere(duration, [](const std::string& u) {
            return u == Sjis("－") || u == Sjis("＋") || u == Sjis("＝") || u == Sjis("　");
        }));
        if (!at) return std::nullopt;
        const std::string u = duration.substr(*at, 2);
        const char* half = u == Sjis("－") ? "-" : u == Sjis("＋") ? "+" : u == Sjis("＝") ? "=" : " ";
        return Mutation{MutationKinds()[kind], p + 1, *at, 2, half};
    }
    case 3: {
        const auto at = any(unitsWhere(pitch, isNote));
        if (!at) return std::nullopt;
        return Mutation{MutationKinds()[kind], p, *at, 2, ""};
    }
    case 4: {
        static const char* extra[] = {"－", "＋", "＝"};
        return Mutation{MutationKinds()[kind], p + 1, 2 * pick(duration.size() / 2 + 1), 0,
                        Sjis(extra[pick(3)])};
    }
    case 5: {
        std::vector<std::size_t> under;
        for (const std::size_t b : unitsWhere(pitch, isNote))
            if (b + 1 < duration.size()) under.push_back(b);
        const auto at = any(under);
        if (!at) return std::nullopt;
        return Mutation{MutationKinds()[kind], p + 1, *at, 2, ""};
    }
    case 6: {
        static const char* extra[] = {"ロ", "ツ", "レ", "チ", "ハ"};
        return Mutation{MutationKinds()[kind], p, 2 * pick(pitch.size() / 2 + 1), 0, Sjis(extra[pick(5)])};
    }
    case 7: {
        const auto at = any(
            unitsWhere(duration, [](const std::string& u) { return u == Sjis("３") || u == Sjis("５"); }));
        if (!at) return std::nullopt;
        const bool left = pick(2) == 0;
        const std::size_t from = left ? *at - 2 : *at;
        const std::string swapped = left ? duration.substr(*at, 2) + duration.substr(*at - 2, 2)
                                         : duration.substr(*at + 2, 2) + duration.substr(*at, 2);
        return Mutation{MutationKinds()[kind], p + 1, from, 4, swapped};
    }
    case 8:
        return Mutation{MutationKinds()[kind], p, pitch.size(), 0, Sjis(pick(2) ? "　//rit." : "//ゆっくり")};
    case 9:
        if (!score.lines[p - 1].empty()) return std::nullopt;
        return Mutation{MutationKinds()[kind], p - 1, 0, 0, Sjis("//ここから二番、少しゆっくりと")};
    case 10: {
        const auto at = any(unitsWhere(pitch, [](const std::string& u) { return u == Sjis("＃"); }));
        if (!at) return std::nullopt;
        return Mutation{MutationKinds()[kind], p, *at, 2, Sjis("♯")};
    }
    case 11: {
        const auto at = any(unitsWhere(duration, [](const std::string& u) { return u == Sjis("－"); }));
        if (!at) return std::nullopt;
        return Mutation{MutationKinds()[kind], p + 1, *at, 2, Sjis("ー")};
    }
    default:
        return std::nullopt;
    }
}

struct MutationOutcome {
    bool changesEvents = false;
    bool found = false; // some finding the score without the mistake does not have
    bool anyError = false;
    bool columnOnLine = false;    // a finding on the mistaken line within one column of the mistake
    bool columnInSet = false;     // the same on any line of the mistaken line set
    bool firstOnOrBefore = false; // the first new finding is on the mistaken line or above it
};

inline std::vector<NoteEvent> TimedOf(std::span<const std::string_view> lines) {
    return MapScore(lines).timed;
}

inline bool SameEvents(const std::vector<NoteEvent>& a, const std::vector<NoteEvent>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const NoteEvent& x, const NoteEvent& y) {
        return x.program == y.program && x.key == y.key && x.ticks == y.ticks;
    });
}

// The checker on a score with the mistake, against the score without it. A mistake that gives the same
// text at several places (a symbol dropped from a run of the same symbol) is at any of them.
inline MutationOutcome Judge(const GeneratedScore& score, const Mutation& mutation) {
    std::vector<std::string> mutated = score.lines;
    mutated[mutation.line] = mutation.Applied(score.lines[mutation.line], mutation.byte);
    const ScoreLines before(score.lines);
    const ScoreLines after(mutated);
    MutationOutcome outcome;
    outcome.changesEvents = !SameEvents(TimedOf(before), TimedOf(after));
    const std::vector<Finding> old = CheckScore(before);
    const auto known = [&](const Finding& f) {
        return std::any_of(old.begin(), old.end(), [&](const Finding& o) {
            return o.code == f.code && o.span.line == f.span.line && o.span.column == f.span.column;
        });
    };
    std::vector<std::int32_t> columns; // columns of the places that give the same text, from 1
    const std::string& original = score.lines[mutation.line];
    for (std::size_t at = 0; at <= original.size(); ++at)
        if (at + mutation.removed <= original.size() &&
            mutation.Applied(original, at) == mutated[mutation.line])
            columns.push_back(ColumnOfByte(original, at));
    const auto line = static_cast<std::int32_t>(mutation.line + 1);
    std::int32_t setFirst = line;
    std::int32_t setLast = line;
    for (const std::size_t p : score.pitchLines)
        if (mutation.line + 2 >= p && mutation.line <= p + 1) {
            setFirst = static_cast<std::int32_t>(p);    // the timbre line, from 1
            setLast = static_cast<std::int32_t>(p + 2); // the duration line
        }
    bool first = true;
    for (const Finding& f : CheckScore(after)) {
        if (known(f)) continue;
        outcome.anyError = outcome.anyError || f.severity == Severity::Error;
        if (first) outcome.firstOnOrBefore = f.span.line <= line;
        first = false;
        outcome.found = true;
        const bool near = std::any_of(columns.begin(), columns.end(),
                                      [&](std::int32_t c) { return std::abs(f.span.column - c) <= 1; });
        outcome.columnOnLine = outcome.columnOnLine || (near && f.span.line == line);
        outcome.columnInSet =
            outcome.columnInSet || (near && f.span.line >= setFirst && f.span.line <= setLast);
    }
    return outcome;
}

// Counts over many scores and mistakes.
struct MutationTally {
    std::size_t scores = 0;
    std::size_t scoresWithError = 0;
    std::size_t scoresWithFinding = 0;
    std::size_t changing = 0;
    std::size_t found = 0;
    std::size_t columnOnLine = 0;
    std::size_t columnInSet = 0;
    std::size_t firstOnOrBefore = 0;
    std::size_t neutral = 0;
    std::size_t neutralWithError = 0;

    void Add(const MutationOutcome& o) {
        if (!o.changesEvents) {
            ++neutral;
            neutralWithError += o.anyError;
            return;
        }
        ++changing;
        found += o.found;
        columnOnLine += o.columnOnLine;
        columnInSet += o.columnInSet;
        firstOnOrBefore += o.firstOnOrBefore;
    }
};

// One round on a score: checked as it is, then one mistake of every kind in it. show, when given, is
// called with the score when it has a finding as it is and with every mistake whose outcome misses one of
// the marks.
template <class Show = std::nullptr_t>
void TallyRound(const GeneratedScore& score, std::mt19937& random, MutationTally& tally,
                std::map<std::string, MutationTally>* perKind, Show& show) {
    const std::vector<Finding> findings = CheckScore(ScoreLines(score.lines));
    ++tally.scores;
    tally.scoresWithFinding += !findings.empty();
    tally.scoresWithError += std::any_of(findings.begin(), findings.end(),
                                         [](const Finding& f) { return f.severity == Severity::Error; });
    if constexpr (!std::is_same_v<Show, std::nullptr_t>)
        if (!findings.empty()) show(score, nullptr, MutationOutcome{});
    for (std::size_t kind = 0; kind < MutationKinds().size(); ++kind) {
        const std::optional<Mutation> mutation = Mutate(score, kind, random);
        if (!mutation) continue;
        const MutationOutcome outcome = Judge(score, *mutation);
        tally.Add(outcome);
        if (perKind) (*perKind)[mutation->kind].Add(outcome);
        if constexpr (!std::is_same_v<Show, std::nullptr_t>)
            if (outcome.changesEvents ? !(outcome.columnInSet && outcome.firstOnOrBefore && outcome.found)
                                      : outcome.anyError)
                show(score, &*mutation, outcome);
    }
}

// Runs rounds of TallyRound, each on a score of its own.
template <class Show = std::nullptr_t>
MutationTally RunMutations(unsigned seed, int rounds, std::map<std::string, MutationTally>* perKind = nullptr,
                           Show show = nullptr) {
    std::mt19937 random(seed);
    MutationTally tally;
    for (int round = 0; round < rounds; ++round)
        TallyRound(GenerateScore(random), random, tally, perKind, show);
    return tally;
}

// A score written by hand (code page 932 lines) as the mistakes take it: its line sets with a duration
// line below.
inline GeneratedScore ScoreOfLines(std::vector<std::string> lines) {
    GeneratedScore score;
    const ScoreMap map = MapScore(ScoreLines(lines));
    for (const LineSet& set : map.sets)
        if (set.pitchLine + 1 < lines.size()) score.pitchLines.push_back(set.pitchLine);
    score.lines = std::move(lines);
    return score;
}

} // namespace nagisora::test
