#pragma once

// The one entry point of the import module (libnagisora_import.so), shared by the module and its loader: the
// command-line converter loads the XML and zip libraries only when it imports a file.

#include <cstddef>

extern "C" {
// Imports size bytes of a MIDI, MusicXML or .mxl file for the part (1-based, 0: the first melodic part) and
// the pipe (tenths of a 尺, 0: chosen). Returns 0 and the score's text (code page 932 lines with CR LF) in
// *score, *scoreSize bytes; or 1 with the problem (UTF-8) in *report. On success *report holds one line per
// finding, "OUTPUT:LINE:COL: warning: MESSAGE [CODE]" with outputName for OUTPUT, and a last line that names
// the part, the pipe, the transposition and the tempo. Both buffers are allocated with malloc, for the caller
// to free.
__attribute__((visibility("default"))) int nagisora_import_v1(const char* bytes, std::size_t size, int part,
                                                              int pipeTenths, const char* outputName,
                                                              char** score, std::size_t* scoreSize,
                                                              char** report);

// The window's two steps. The parts of the file, each through part(context, name, drums, playable), name in
// UTF-8 and playable when it holds notes that can be imported; returns 0, or 1 with the problem in *report.
__attribute__((visibility("default"))) int
nagisora_import_parts_v1(const char* bytes, std::size_t size, void* context,
                         void (*part)(void* context, const char* name, int drums, int playable),
                         char** report);

// What converts an imported score back as the source sounds.
struct NagisoraImportOutcome {
    int tempo;
    int transpose;
    int volume;
    int instrument;
    int part;       // 1-based
    int pipeTenths; // the pipe written for, chosen or given
};

// As nagisora_import_v1, with each finding through finding(context, line, column, text, code) (text: the
// message and its place in the source) instead of in *report, which holds the last line only, and the
// settings in *outcome.
__attribute__((visibility("default"))) int nagisora_import_each_v1(
    const char* bytes, std::size_t size, int part, int pipeTenths, void* context,
    void (*finding)(void* context, int line, int column, const char* text, const char* code),
    NagisoraImportOutcome* outcome, char** score, std::size_t* scoreSize, char** report);
}

namespace nagisora {

inline constexpr char ImportModuleFileName[] = "libnagisora_import.so";
inline constexpr char ImportEntryName[] = "nagisora_import_v1";
using ImportEntry = decltype(&nagisora_import_v1);
inline constexpr char ImportPartsEntryName[] = "nagisora_import_parts_v1";
using ImportPartsEntry = decltype(&nagisora_import_parts_v1);
inline constexpr char ImportEachEntryName[] = "nagisora_import_each_v1";
using ImportEachEntry = decltype(&nagisora_import_each_v1);

} // namespace nagisora
