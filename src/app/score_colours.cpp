#include "app/score_colours.h"

#include "app/score_area.h"
#include "app/score_model.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

namespace nagisora {
namespace {

// Hue and saturation (0 to 255) of each role and unit kind; -1 keeps the text's own colour.
struct Tint {
    int hue = -1;
    int saturation = 0;
    bool flagged = false; // a tinted background as well: the reader passes over it
};

constexpr Tint RoleTints[] = {
    {35, 60},   // Other: text the reader passes over
    {},         // Blank
    {0, 0},     // Comment: grey
    {215, 170}, // Timbre
    {},         // Pitch: the notes in the text's own colour
    {150, 150}, // Duration
};

constexpr Tint UnitTints[] = {
    {0, 200, true}, // Other: no notation symbol
    {},             // Note
    {195, 120},     // RestOrHold
    {290, 150},     // RegisterMark
    {20, 210},      // Accidental
    {0, 0},         // BarLine
    {},             // Space
    {0, 200, true}, // MusicSharp: ♯ raises nothing
    {0, 0},         // Comment
};

double Luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The look of a pitch line packs what its colours depend on besides its own bytes: whether its first byte
// makes a unit with the byte before it, and its last byte with the byte after it.
constexpr int RoleBits = 3;
constexpr int JoinsBefore = 1 << RoleBits;
constexpr int JoinsAfter = 1 << (RoleBits + 1);
constexpr int ByteBeforeShift = 8;
constexpr int ByteAfterShift = 16;
constexpr int Stale = -2;  // the state of a block to be coloured again: no look has it
constexpr int SliceMs = 8; // of colouring at a time after a keystroke
// Characters of the lines after an edit that are coloured within the keystroke.
constexpr int ColouredAtOnce = 1024;

} // namespace

QColor ReadableOn(const QColor& base, int hue, int saturation, double ratio) {
    const bool darkBase = base.lightnessF() < 0.5;
    // Start near the middle and move away from the base until the text stands out.
    for (int lightness = darkBase ? 150 : 110; lightness >= 0 && lightness <= 255;
         lightness += darkBase ? 5 : -5) {
        const QColor colour = QColor::fromHsl(std::max(hue, 0), saturation, lightness);
        if (Contrast(colour, base) >= ratio) return colour;
    }
    return darkBase ? QColor(Qt::white) : QColor(Qt::black);
}

QColor Mixed(const QColor& a, const QColor& b, double share) {
    const auto mix = [share](double x, double y) { return x * share + y * (1.0 - share); };
    return QColor::fromRgbF(static_cast<float>(mix(a.redF(), b.redF())),
                            static_cast<float>(mix(a.greenF(), b.greenF())),
                            static_cast<float>(mix(a.blueF(), b.blueF())));
}

ScoreColours::ScoreColours(ScoreModel& model, ScoreArea& area)
    : QSyntaxHighlighter(area.document()), model_(model), area_(area) {
    setObjectName(QStringLiteral("ScoreColours"));
    MakeFormats(area.palette());
    area.installEventFilter(this);
    connect(&model_, &ScoreModel::Remapped, this, &ScoreColours::Recolour);
}

void ScoreColours::MakeFormats(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    madeFor_ = {base, palette.color(QPalette::Text)};
    const auto formatOf = [&](const Tint& tint) {
        QTextCharFormat format;
        if (tint.hue < 0) return format;
        const QColor colour = ReadableOn(base, tint.hue, tint.saturation);
        format.setForeground(colour);
        if (tint.flagged) format.setBackground(Mixed(colour, base, 0.18));
        return format;
    };
    for (std::size_t r = 0; r < roleFormats_.size(); ++r)
        roleFormats_[r] = formatOf(RoleTints[r]);
    for (std::size_t u = 0; u < unitFormats_.size(); ++u)
        unitFormats_[u] = formatOf(UnitTints[u]);
}

const QTextCharFormat& ScoreColours::FormatOf(LineRole role) const {
    return roleFormats_[static_cast<std::size_t>(role)];
}

const QTextCharFormat& ScoreColours::FormatOf(UnitKind kind) const {
    return unitFormats_[static_cast<std::size_t>(kind)];
}

int ScoreColours::TakeLinesColoured() {
    return std::exchange(linesColoured_, 0);
}

bool ScoreColours::eventFilter(QObject* watched, QEvent* event) {
    // Only the base and the text colour make the formats (a see-through selection changes neither).
    if (event->type() == QEvent::PaletteChange) {
        const QPalette& palette = static_cast<QWidget*>(watched)->palette();
        const std::pair colours{palette.color(QPalette::Base), palette.color(QPalette::Text)};
        if (colours != madeFor_) {
            MakeFormats(palette);
            rehighlight();
        }
    }
    return QSyntaxHighlighter::eventFilter(watched, event);
}

int ScoreColours::LookOf(int line) const {
    const ScoreMap& map = model_.Map();
    if (line < 0 || static_cast<std::size_t>(line) >= map.lines.size())
        return static_cast<int>(LineRole::Blank);
    const LineUse& use = map.lines[static_cast<std::size_t>(line)];
    const LineRole role = use.Role();
    int look = static_cast<int>(role);
    if (role != LineRole::Pitch) return look;
    const LineSet& set = map.sets[static_cast<std::size_t>(use.pitchOf)];
    const std::string& text = map.texts.PitchText;
    if (set.pitchStart % 2 != 0)
        look |= JoinsBefore | static_cast<unsigned char>(text[set.pitchStart - 1]) << ByteBeforeShift;
    const std::size_t end = set.pitchStart + set.pitchBytes;
    if (end % 2 != 0 && end < text.size())
        look |= JoinsAfter | static_cast<unsigned char>(text[end]) << ByteAfterShift;
    return look;
}

// Every block keeps the look it was coloured for as its state; a block whose look is no longer that of its
// line is coloured again. The highlighter's own pass over the edited lines, which runs after this, goes on
// to the next block for as long as the blocks' states change: the blocks after the edit up to the last one
// to colour are given a state that no look has, so that one pass colours them all. (Colouring them one by
// one would lay each out first, which for the lines out of view is most of the cost.) A line before the
// edit, whose role the edit changed, is coloured at once.
void ScoreColours::Recolour(int first, int last) {
    if (document() == nullptr) return;
    int line = 0;
    int lastStale = -1;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next(), ++line) {
        if (line >= first && line <= last) continue;
        const int look = LookOf(line);
        if (block.userState() == look) continue;
        if (line < first) {
            block.setUserState(look); // so that the highlighter does not go on to the next block
            rehighlightBlock(block);
        } else {
            lastStale = line;
        }
    }
    if (lastStale < 0) return;
    // The pass colours the lines after the edit down to the end of the view, as long as the characters it
    // colours (and so lays out again) stay within a keystroke's budget: on lines of thousands of characters
    // the rest are coloured in slices once the keystroke is shown. The pass goes on through the lines marked
    // stale and stops after the last line to colour.
    const int viewEnd = std::max(last + 1, area_.LastLineInView());
    int stopAt = last + 1;
    int characters = 0;
    QTextBlock block = document()->findBlockByNumber(last + 1);
    for (int b = last + 1; b <= std::min(viewEnd, lastStale) && block.isValid(); ++b, block = block.next()) {
        if (block.userState() == LookOf(b)) continue;
        if ((characters += block.length()) > ColouredAtOnce) break;
        stopAt = b;
    }
    block = document()->findBlockByNumber(last + 1);
    for (int b = last + 1; b < stopAt && block.isValid(); ++b, block = block.next())
        block.setUserState(Stale);
    if (block.isValid() && block.userState() != LookOf(stopAt)) {
        // Coloured by the pass, which then finds its state as it was and goes no further.
        block.setUserState(LookOf(stopAt));
        stopAt_ = stopAt;
    }
    // Should no pass of the highlighter follow (a new map without an edit), the blocks are coloured later.
    QTimer::singleShot(0, this, &ScoreColours::CatchUp);
}

// Colours the lines whose look changed, a few milliseconds at a time, until none is left.
void ScoreColours::CatchUp() {
    if (document() == nullptr) return;
    if (stopAt_ >= 0) {
        const QTextBlock block = document()->findBlockByNumber(std::exchange(stopAt_, -1));
        if (block.isValid()) rehighlightBlock(block);
    }
    QElapsedTimer slice;
    slice.start();
    int line = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next(), ++line)
        if (const int look = LookOf(line); block.userState() != look) {
            if (slice.elapsed() >= SliceMs) {
                QTimer::singleShot(0, this, &ScoreColours::CatchUp);
                return;
            }
            block.setUserState(look);
            rehighlightBlock(block);
        }
}

void ScoreColours::highlightBlock(const QString& text) {
    const int line = currentBlock().blockNumber();
    if (line == stopAt_) stopAt_ = -1;
    setCurrentBlockState(LookOf(line));
    ++linesColoured_;
    const ScoreMap& map = model_.Map();
    if (static_cast<std::size_t>(line) >= map.lines.size()) return;
    const LineUse& use = map.lines[static_cast<std::size_t>(line)];
    const QTextCharFormat& lineFormat = FormatOf(use.Role());
    if (lineFormat.propertyCount() > 0) setFormat(0, static_cast<int>(text.size()), lineFormat);
    if (use.Role() != LineRole::Pitch) return;

    const LineSet& set = map.sets[static_cast<std::size_t>(use.pitchOf)];
    const std::size_t start = set.pitchStart;
    const std::size_t end = start + set.pitchBytes;
    for (std::size_t u = start / 2; 2 * u < end && u < map.units.size(); ++u) {
        const QTextCharFormat& format = FormatOf(map.units[u]);
        if (format.propertyCount() == 0) continue;
        const std::size_t firstByte = std::max(2 * u, start) - start;
        const std::size_t lastByte = std::min(2 * u + 2, end) - start - 1;
        const int from = model_.PositionOf(line, firstByte);
        const int to = model_.PositionOf(line, lastByte) + 1;
        setFormat(from, to - from, format);
    }
}

} // namespace nagisora
