// The loadable module that draws the vertical score as PDF for the command-line converter, which loads it
// only when asked for a PDF file: plain conversion never pays for loading Qt. The module runs its own
// QGuiApplication on the offscreen platform, so that it needs no display.

#include "platform/pdf_render_module.h"

#include "app/vertical_render.h"
#include "core/failure.h"
#include "core/score_map.h"
#include "core/vertical_layout.h"

#include <QGuiApplication>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

// Qt's own notes (a runtime folder it would like to have, a font it looked for) are no concern of the
// converter's user: only critical messages go on to the handler before.
QtMessageHandler previousHandler = nullptr;

void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if ((type == QtCriticalMsg || type == QtFatalMsg) && previousHandler)
        previousHandler(type, context, message);
}

struct QuietQt {
    QuietQt() { previousHandler = qInstallMessageHandler(QuietHandler); }
    ~QuietQt() { qInstallMessageHandler(previousHandler); }
    QuietQt(const QuietQt&) = delete;
    QuietQt& operator=(const QuietQt&) = delete;
};

// The application the drawing needs, for the call: made when there is none, and taken down again before the
// call returns, so that nothing of Qt is left to tear down when the program exits.
std::unique_ptr<QGuiApplication> ApplicationForCall() {
    if (QGuiApplication::instance()) return nullptr;
    static int argc = 1;
    static char name[] = "nagisora-convert";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

extern "C" int nagisora_render_pdf_v2(const char* const* lines, const std::size_t* lengths, std::size_t count,
                                      const char* title, std::size_t titleSize, int paper, double marginMm,
                                      double fontPoints, NagisoraPdfSink sink, void* context,
                                      NagisoraFailure* failure) {
    try {
        std::vector<std::string_view> views;
        views.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            views.emplace_back(lines[i], lengths[i]);
        const QuietQt quiet;
        const std::unique_ptr<QGuiApplication> application = ApplicationForCall();
        const nagisora::VerticalPageSettings page{
            paper == 1 ? nagisora::VerticalPaper::B5 : nagisora::VerticalPaper::A4, marginMm, fontPoints};
        const nagisora::VerticalScore score = nagisora::LayOutVertical(
            nagisora::MapScore(views), std::string_view(title, titleSize), nagisora::LayoutSettingsFor(page));
        const std::string pdf = nagisora::VerticalPdf(score, page);
        sink(context, pdf.data(), pdf.size());
        return 0;
    } catch (const nagisora::Failure& f) {
        nagisora::PassFailure(f, *failure);
    } catch (const std::exception& error) {
        nagisora::PassFailure(nagisora::Failure::Media(nagisora::MediaCode::NoRenderModule,
                                                       std::string("PDF を作れません: ") + error.what()),
                              *failure);
    }
    return 1;
}
