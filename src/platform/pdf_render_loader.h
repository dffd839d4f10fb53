#pragma once

// The vertical score as PDF for the command-line converter, loaded on demand: the converter does not link Qt,
// and only a conversion that asks for a PDF file loads the module that draws it (libnagisora_pdf.so).

#include <span>
#include <string>
#include <string_view>

namespace nagisora {

struct PdfPageOptions {
    int paper = 0; // 0 A4, 1 B5
    double marginMm = 15;
    double fontPoints = 12;
};

// The PDF document of the score lines (code page 932 bytes, without line ends), titled title (code page 932).
// Throws Failure: the module cannot be found or loaded, or its own failure.
std::string RenderPdf(std::span<const std::string_view> lines, std::string_view title,
                      const PdfPageOptions& options = {});

} // namespace nagisora
