#include "pdf_output.h"

#include "line_sets.h"
#include "musicxml.h"
#include "pdf_render_loader.h"

#include <span>

namespace nagisora {

std::string PdfOfScore(const ScoreFileLines& lines, int paper) {
    std::string_view title;
    for (const std::string_view line : lines)
        if (title = FirstCommentText(std::span(&line, 1)); !title.empty()) break;
    PdfPageOptions options;
    options.paper = paper;
    return RenderPdf(LinesOfLineSets(lines), title, options);
}

} // namespace nagisora
