#pragma once

// Reads back the part of an exported MusicXML document, as far as the tests look at it.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nagisora::test {

inline std::string Inner(std::string_view element, const std::string& tag) {
    const std::size_t begin = element.find("<" + tag + ">");
    if (begin == std::string_view::npos) return {};
    const std::size_t from = begin + tag.size() + 2;
    return std::string(element.substr(from, element.find('<', from) - from));
}

inline bool Has(std::string_view element, std::string_view text) {
    return element.find(text) != std::string_view::npos;
}

struct ReadBack {
    // "|" between measures, ":" for a bar line inside one, "8va" and "loco" around an octave shift, "P23"
    // where the MIDI program becomes 23 (from 0), and per note [g]STEP[#|b]OCTAVE or r, the accidental shown
    // as (s) (f) (n), "=" and the duration in ticks, the type's initial (w h q e s, t for the 32nd, x for the
    // 64th, y for the 128th, z for the 256th), "." for a dot, {actual:normal},
    // "~" for a tie to the next, "[" and "]" around a tuplet, "(" and ")" around the notes of a beam.
    std::string part;
    // (tick, key) where a note begins to sound: not tied from the one before; grace notes at the next note's.
    std::vector<std::pair<double, std::int32_t>> attacks;
};

inline ReadBack ReadPart(std::string_view xml) {
    ReadBack read;
    double tick = 0;
    const double ticksPerDivision = 120.0 / std::stoi(Inner(xml, "divisions"));
    xml.remove_prefix(xml.find("<part id"));
    for (std::size_t at = xml.find('<', 1); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        const std::string_view rest = xml.substr(at);
        if (rest.starts_with("<measure ") && !read.part.empty()) read.part += "| ";
        if (rest.starts_with("<barline location=\"middle\"")) read.part += ": ";
        if (rest.starts_with("<octave-shift type=\"down\" size=\"8\"")) read.part += "8va ";
        if (rest.starts_with("<octave-shift type=\"stop\" size=\"8\"")) read.part += "loco ";
        if (rest.starts_with("<midi-program>"))
            read.part += "P" + std::to_string(std::stoi(Inner(rest, "midi-program")) - 1) + " ";
        if (!rest.starts_with("<note>")) continue;
        const std::string_view n = rest.substr(0, rest.find("</note>"));
        const std::string alter = Inner(n, "alter"), type = Inner(n, "type"), duration = Inner(n, "duration");
        std::string t = Has(n, "<grace") ? "g" : "";
        if (Has(n, "<rest/>")) {
            t += "r";
        } else {
            t += Inner(n, "step") + (alter == "1" ? "#" : alter == "-1" ? "b" : "") + Inner(n, "octave");
            const auto key =
                (std::stoi(Inner(n, "octave")) + 1) * 12 +
                static_cast<std::int32_t>(std::string_view("C D EF G A B").find(Inner(n, "step"))) +
                (alter.empty() ? 0 : std::stoi(alter));
            if (!Has(n, "<tie type=\"stop\"/>")) read.attacks.emplace_back(tick, key);
        }
        if (Has(n, "<accidental>")) t += "(" + Inner(n, "accidental").substr(0, 1) + ")";
        if (!duration.empty()) {
            const double ticks = std::stoll(duration) * ticksPerDivision;
            std::string shown = std::to_string(ticks);
            shown.erase(shown.find_last_not_of('0') + 1);
            if (shown.back() == '.') shown.pop_back();
            t += "=" + shown;
            tick += ticks;
        }
        t += type == "32nd"    ? 't'
             : type == "16th"  ? 's'
             : type == "64th"  ? 'x'
             : type == "128th" ? 'y'
             : type == "256th" ? 'z'
                               : type.front();
        if (Has(n, "<dot/>")) t += '.';
        if (Has(n, "<time-modification>"))
            t += "{" + Inner(n, "actual-notes") + ":" + Inner(n, "normal-notes") + "}";
        if (Has(n, "<tie type=\"start\"/>")) t += '~';
        if (Has(n, "<tuplet type=\"start\"")) t = "[" + t;
        if (Has(n, "<tuplet type=\"stop\"/>")) t += ']';
        if (Has(n, "<beam number=\"1\">begin")) t = "(" + t;
        if (Has(n, "<beam number=\"1\">end")) t += ')';
        read.part += t + " ";
    }
    if (!read.part.empty()) read.part.pop_back();
    return read;
}

} // namespace nagisora::test
