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
}

namespace nagisora {

inline constexpr char ImportModuleFileName[] = "libnagisora_import.so";
inline constexpr char ImportEntryName[] = "nagisora_import_v1";
using ImportEntry = decltype(&nagisora_import_v1);

} // namespace nagisora
