#pragma once

// What a listener hears of an event list: each note with the holds after it, rests left out.

#include "onpu.h"

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

inline std::vector<Sound> Sounds(std::span<const TOnpu> events) {
    std::vector<Sound> sounds;
    std::int64_t at = 0;
    bool sounding = false;
    for (const TOnpu& e : events) {
        if (e.Onko > 0) sounds.push_back(Sound{at, 0, e.Onko});
        if (e.Onko >= 0) sounding = e.Onko > 0;
        if (sounding) sounds.back().length += e.Oncho;
        at += e.Oncho;
    }
    return sounds;
}

// The program each sound plays with as notation keeps it: the first instrument until a note's timbre number
// of a program (0 to 127) changes it. Numbers on rests and holds are not a note's and are left out.
inline std::vector<std::int32_t> Programs(std::span<const TOnpu> events, std::int32_t instrument) {
    std::vector<std::int32_t> programs;
    for (const TOnpu& e : events) {
        if (e.Onko <= 0) continue;
        if (e.Onshoku >= 0 && e.Onshoku <= 127) instrument = e.Onshoku;
        programs.push_back(instrument);
    }
    return programs;
}

} // namespace nagisora::test
