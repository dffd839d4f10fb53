#pragma once

// What a listener hears of an event list: each note with the holds after it, rests left out.

#include "core/note_event.h"

#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

namespace nagisora::test {

struct Sound {
    std::int64_t start, length;
    std::int32_t key;
    bool operator==(const Sound&) const = default;
};

inline void PrintTo(const Sound& s, std::ostream* out) {
    *out << s.key << "@" << s.start << "+" << s.length;
}

inline std::vector<Sound> Sounds(std::span<const NoteEvent> events) {
    std::vector<Sound> sounds;
    std::int64_t at = 0;
    bool sounding = false;
    for (const NoteEvent& e : events) {
        if (e.IsNote()) sounds.push_back(Sound{at, 0, e.key});
        if (!e.IsHold()) sounding = e.IsNote();
        if (sounding) sounds.back().length += e.ticks;
        at += e.ticks;
    }
    return sounds;
}

// The program each sound plays with as notation keeps it: the first instrument until a note's timbre number
// of a program (0 to 127) changes it. Numbers on rests and holds are not a note's and are left out.
inline std::vector<std::int32_t> Programs(std::span<const NoteEvent> events, std::int32_t instrument) {
    std::vector<std::int32_t> programs;
    for (const NoteEvent& e : events) {
        if (!e.IsNote()) continue;
        if (e.HasProgram() && e.program <= 127) instrument = e.program;
        programs.push_back(instrument);
    }
    return programs;
}

} // namespace nagisora::test
