#pragma once

// The score area's text as the reader sees it, kept up to date while the user types: the code page 932 bytes
// of every line, where each character of the area stands among them, and the map of the whole score (the
// role of every line, the place of every event). Only the lines a change touches are encoded again; the map
// is made again from the kept lines, well within a frame for the longest score. One line of the score is one
// block of the area's document.

#include "core/score_map.h"
#include "platform/cp932.h"

#include <QObject>
#include <QTextCursor>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QTextDocument;

namespace nagisora {

class ScoreModel : public QObject {
    Q_OBJECT

  public:
    explicit ScoreModel(QTextDocument& document, QObject* parent = nullptr);

    // The score lines as code page 932 bytes without line ends: the document's blocks, without the empty
    // block after a final line break. A character that code page 932 lacks reads as "?".
    std::span<const std::string_view> Lines() const { return views_; }
    std::vector<std::string> LineBytes() const;

    // Where a character that code page 932 lacks stands: line and column (from 1, in characters).
    std::vector<CharPosition> Unmappable() const;

    // The map of the lines, with the transposition last set (0 at first).
    const ScoreMap& Map() const { return map_; }
    void SetTransposition(std::int32_t transpose);
    std::int32_t Transposition() const { return transpose_; }

    // The byte offset (from 0) in line (from 0) of the character at a position of its block; the length of
    // the line's bytes at the block's end.
    std::size_t ByteAt(int line, int position) const;
    // The position in the block of the character that holds a byte; past the line's end, the block's end.
    int PositionOf(int line, std::size_t byte) const;
    // A cursor selecting the characters of a place; a null cursor for the stand-in line or a place past the
    // end of its line.
    QTextCursor CursorFor(const SourcePlace& place) const;
    // The place of a cursor's selection, as far as it lies in its first line; without a selection, of the
    // character at its position.
    SourcePlace PlaceOf(const QTextCursor& cursor) const;

    QTextDocument& Document() const { return document_; }

  signals:
    // The map was made again after lines first to last (from 0, as they are now) changed; the lines after
    // them moved by delta. A change of the transposition alone reports every line.
    void Remapped(int first, int last, int delta);

  private:
    struct Line {
        QString text;
        std::string bytes;
        std::vector<std::uint32_t> byteOf;    // per UTF-16 code unit of text, and one for the end
        std::vector<std::int32_t> unmappable; // columns (from 1, in characters)
    };

    void OnContentsChange(int position, int removed, int added);
    static Line Encode(const QString& text);
    void Remap();

    QTextDocument& document_;
    std::vector<Line> lines_; // one per block
    std::vector<std::string_view> views_;
    ScoreMap map_;
    std::int32_t transpose_ = 0;
};

} // namespace nagisora
