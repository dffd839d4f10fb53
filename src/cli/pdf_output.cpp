#include "cli/pdf_output.h"

#include "core/line_sets.h"
#include "core/musicxml.h"

#include <span>

namespace nagisora {

std::string PdfOfScore(const ScoreFileLines& lines, const PdfPageOptions& page) {
    std::string_view title;
    for (const std::string_view line : lines)
        if (title = FirstCommentText(std::span(&line, 1)); !title.empty()) break;
    return RenderPdf(LinesOfLineSets(lines), title, page);
}

} // namespace nagisora
