#include "app/score_model.h"

#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

namespace nagisora {

ScoreModel::ScoreModel(QTextDocument& document, QObject* parent) : QObject(parent), document_(document) {
    connect(&document_, &QTextDocument::contentsChange, this, &ScoreModel::OnContentsChange);
    OnContentsChange(0, 0, document_.characterCount());
}

ScoreModel::Line ScoreModel::Encode(const QString& text) {
    Line line;
    line.text = text;
    Cp932Text encoded = EncodeCp932(text.toStdString());
    line.bytes = std::move(encoded.bytes);
    for (const CharPosition& at : encoded.unmappable)
        line.unmappable.push_back(static_cast<std::int32_t>(at.column));
    // charStarts counts characters (code points); the area counts UTF-16 code units, two for a character
    // beyond the basic plane.
    line.byteOf.reserve(static_cast<std::size_t>(text.size()) + 1);
    std::size_t character = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        line.byteOf.push_back(encoded.charStarts[character]);
        if (!(text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())) ++character;
    }
    line.byteOf.push_back(static_cast<std::uint32_t>(line.bytes.size()));
    return line;
}

// The change covers the characters position to position + added of the document as it is now. The blocks it
// touches now, first to lastNow, take the place of the kept lines first to lastNow - delta; the lines after
// them only move.
void ScoreModel::OnContentsChange(int position, int /*removed*/, int added) {
    const int blocks = document_.blockCount();
    const int delta = blocks - static_cast<int>(lines_.size());
    const QTextBlock firstBlock = document_.findBlock(position);
    const QTextBlock lastBlock = document_.findBlock(position + added);
    const int first = firstBlock.isValid() ? firstBlock.blockNumber() : blocks - 1;
    const int lastNow = std::max(first, lastBlock.isValid() ? lastBlock.blockNumber() : blocks - 1);
    int lastBefore = lastNow - delta;
    if (lastBefore < first - 1 || lastBefore >= static_cast<int>(lines_.size())) {
        // What is kept does not fit the change: take the whole document again.
        lines_.clear();
        return OnContentsChange(0, 0, document_.characterCount());
    }
    std::vector<Line> changed;
    bool textChanged = delta != 0;
    QTextBlock block = document_.findBlockByNumber(first);
    for (int b = first; b <= lastNow && block.isValid(); ++b, block = block.next()) {
        QString text = block.text();
        const auto kept = static_cast<std::size_t>(b);
        if (delta == 0 && lines_[kept].text == text) {
            changed.push_back(lines_[kept]);
            continue;
        }
        textChanged = true;
        changed.push_back(Encode(text));
    }
    // Only formats changed, as when a line is coloured anew: nothing to map again.
    if (!textChanged) return;
    const auto begin = lines_.begin() + first;
    lines_.erase(begin, begin + (lastBefore - first + 1));
    lines_.insert(lines_.begin() + first, std::make_move_iterator(changed.begin()),
                  std::make_move_iterator(changed.end()));
    Remap();
    emit Remapped(first, lastNow, delta);
}

void ScoreModel::Remap() {
    views_.clear();
    views_.reserve(lines_.size());
    for (const Line& line : lines_)
        views_.emplace_back(line.bytes);
    // The empty block after a final line break is where the caret can stand, not a line of the score.
    if (!lines_.empty() && lines_.back().text.isEmpty()) views_.pop_back();
    MapScore(views_, transpose_, map_);
}

void ScoreModel::SetTransposition(std::int32_t transpose) {
    if (transpose == transpose_) return;
    transpose_ = transpose;
    Remap();
    emit Remapped(0, static_cast<int>(lines_.size()) - 1, 0);
}

std::vector<std::string> ScoreModel::LineBytes() const {
    return {views_.begin(), views_.end()};
}

std::vector<CharPosition> ScoreModel::Unmappable() const {
    std::vector<CharPosition> positions;
    for (std::size_t j = 0; j < views_.size(); ++j)
        for (const std::int32_t column : lines_[j].unmappable)
            positions.push_back(CharPosition{j + 1, static_cast<std::size_t>(column)});
    return positions;
}

std::size_t ScoreModel::ByteAt(int line, int position) const {
    if (line < 0 || static_cast<std::size_t>(line) >= lines_.size()) return 0;
    const std::vector<std::uint32_t>& byteOf = lines_[static_cast<std::size_t>(line)].byteOf;
    return byteOf[static_cast<std::size_t>(std::clamp<qsizetype>(position, 0, qsizetype(byteOf.size()) - 1))];
}

int ScoreModel::PositionOf(int line, std::size_t byte) const {
    if (line < 0 || static_cast<std::size_t>(line) >= lines_.size()) return 0;
    const std::vector<std::uint32_t>& byteOf = lines_[static_cast<std::size_t>(line)].byteOf;
    // The last code unit whose character begins at or before the byte.
    const auto after = std::upper_bound(byteOf.begin(), byteOf.end() - 1, byte);
    int position = static_cast<int>(after - byteOf.begin()) - 1;
    // The second half of a surrogate pair belongs to the character before it.
    const QString& text = lines_[static_cast<std::size_t>(line)].text;
    while (position > 0 && position < text.size() && text[position].isLowSurrogate())
        --position;
    return std::max(0, position);
}

QTextCursor ScoreModel::CursorFor(const SourcePlace& place) const {
    if (place.IsNone()) return {};
    const int line = place.line - 1;
    const QTextBlock block = document_.findBlockByNumber(line);
    if (!block.isValid()) return {};
    const std::size_t lineBytes = lines_[static_cast<std::size_t>(line)].bytes.size();
    if (place.byte >= lineBytes) return {};
    const int first = PositionOf(line, place.byte);
    const std::size_t lastByte =
        std::min<std::size_t>(place.byte + std::max<std::uint32_t>(place.bytes, 1) - 1, lineBytes - 1);
    int end = PositionOf(line, lastByte) + 1;
    const QString& text = lines_[static_cast<std::size_t>(line)].text;
    while (end < text.size() &&
           (text[end].isLowSurrogate() || text[end].category() == QChar::Mark_NonSpacing))
        ++end; // the rest of a character: the second half of a surrogate pair, a variation selector
    QTextCursor cursor(&document_);
    cursor.setPosition(block.position() + first);
    cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
    return cursor;
}

SourcePlace ScoreModel::PlaceOf(const QTextCursor& cursor) const {
    const QTextBlock block = document_.findBlock(cursor.selectionStart());
    const int line = block.blockNumber();
    const int start = cursor.selectionStart() - block.position();
    const int end = std::min(cursor.selectionEnd() - block.position(), block.length() - 1);
    const std::size_t first = ByteAt(line, start);
    const std::size_t last = ByteAt(line, end);
    return SourcePlace{line + 1, static_cast<std::uint32_t>(first),
                       static_cast<std::uint32_t>(std::max<std::size_t>(last - first, 1))};
}

} // namespace nagisora
