#pragma once

// The PDF output of nagisora-convert (--pdf): the vertical score, drawn by the module that links Qt.

#include "core/score_file_lines.h"
#include "platform/pdf_render_loader.h"

#include <string>

namespace nagisora {

// The PDF document of a score that the conversion took, titled with its first comment line, on the paper, at
// the font size and with the margins of page. Only the lines of the line sets are passed on, so that a large
// file costs no more than its notes.
std::string PdfOfScore(const ScoreFileLines& lines, const PdfPageOptions& page);

} // namespace nagisora
