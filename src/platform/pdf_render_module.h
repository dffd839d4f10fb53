#pragma once

// The one entry point of the PDF module (libnagisora_pdf.so), shared by the module and its loader. The module
// links Qt; the command-line converter loads it only when asked for a PDF file.

#include "platform/module_failure.h"

#include <cstddef>

extern "C" {
// Receives the bytes of the document, in one or more parts, in order.
using NagisoraPdfSink = void (*)(void* context, const char* data, std::size_t size);

// Lays out and draws the vertical score of count score lines (code page 932 bytes, without line ends) titled
// title (code page 932), on paper 0 A4 or 1 B5 with the margins in millimetres and the font size in points,
// and gives the PDF document to sink. Returns 0 on success; otherwise 1, with the failure in
// *failure.
__attribute__((visibility("default"))) int
nagisora_render_pdf_v2(const char* const* lines, const std::size_t* lengths, std::size_t count,
                       const char* title, std::size_t titleSize, int paper, double marginMm,
                       double fontPoints, NagisoraPdfSink sink, void* context, NagisoraFailure* failure);
}

namespace nagisora {

inline constexpr char PdfModuleFileName[] = "libnagisora_pdf.so";
inline constexpr char RenderPdfEntryName[] = "nagisora_render_pdf_v2";
using RenderPdfEntry = decltype(&nagisora_render_pdf_v2);

} // namespace nagisora
