#pragma once

// The PDF output of nagisora-convert (--pdf): the vertical score, drawn by the module that links Qt.

#include "score_file_lines.h"

#include <string>

namespace nagisora {

// The PDF document of a score that the conversion took, titled with its first comment line, on paper 0 (A4)
// or 1 (B5). Only the lines of the line sets are passed on, so that a large file costs no more than its
// notes.
std::string PdfOfScore(const ScoreFileLines& lines, int paper);

} // namespace nagisora
