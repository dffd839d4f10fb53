#pragma once

// Scores from other programs: Standard MIDI Files and MusicXML (plain or compressed .mxl) read into the timed
// notes that the notation's import writes as text. No Qt.

#include "core/score_import.h"
#include "platform/file_io.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nagisora {

// The most notes a file may hold, far above any melody, and the most bytes a compressed file may unpack to:
// what keeps the memory of an import bounded whatever the file claims.
inline constexpr std::size_t MaxImportNotes = 256 * 1024;
inline constexpr std::size_t MaxUnpackedBytes = ScoreFileLimit;

struct ImportRead {
    std::optional<ImportSource> source;
    std::string problem; // UTF-8, without the file's name; empty when read

    bool Read() const { return source.has_value(); }
};

// The bytes of a MIDI file ("MThd"), a .mxl (a zip archive) or MusicXML text.
ImportRead ReadMidiSource(std::string_view bytes);
ImportRead ReadMusicXmlSource(std::string_view xml);
ImportRead ReadCompressedMusicXmlSource(std::string_view zip);

// One of the three, told by the bytes themselves.
ImportRead ReadImportSource(std::string_view bytes);

} // namespace nagisora
