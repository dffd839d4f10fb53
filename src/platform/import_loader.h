#pragma once

// The import of MIDI and MusicXML files for the window, through the module libnagisora_import.so, loaded at
// the first import and kept: the window starts without the XML and zip libraries.

#include "core/conversion.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nagisora {

struct ImportedPart {
    std::string name; // UTF-8
    bool drums = false;
    bool playable = false; // holds notes that can be imported
};

struct ImportedFinding {
    std::int32_t line = 1;   // in the text, from 1
    std::int32_t column = 1; // in characters, from 1
    std::string text;        // UTF-8: the message and its place in the source
    std::string code;        // "import-chord"
};

struct ImportedScore {
    std::string text; // code page 932 lines with CR LF
    std::vector<ImportedFinding> findings;
    ConversionSettings settings; // the source's tempo, instrument and volume, and the pipe's transposition
    std::int32_t part = 1;
    std::int32_t pipeTenths = 0;
    std::string summary; // UTF-8: the part, the pipe, the transposition and the tempo
};

// The parts of a MIDI, MusicXML or .mxl file. Throws Failure: the module cannot be loaded, or the file's
// problem (UTF-8, without the file's name).
std::vector<ImportedPart> ImportedParts(std::string_view bytes);

// The file as a score for the part (1-based, 0: the first melodic part) and the pipe (tenths of a 尺, 0:
// chosen). Throws Failure as ImportedParts does.
ImportedScore ImportThroughModule(std::string_view bytes, std::int32_t part, std::int32_t pipeTenths);

} // namespace nagisora
