#include "app/column_guide.h"

#include "app/score_area.h"
#include "app/score_colours.h"
#include "app/score_model.h"

#include <QTextBlock>

namespace nagisora {

ColumnGuide::ColumnGuide(ScoreModel& model, ScoreArea& area) : QObject(&area), model_(model), area_(area) {
    setObjectName(QStringLiteral("ColumnGuide"));
    connect(&area_, &QPlainTextEdit::cursorPositionChanged, this, &ColumnGuide::Follow);
    // A change of the text moves the caret's units even when the caret stays.
    connect(&model_, &ScoreModel::Remapped, this, &ColumnGuide::Follow);
}

void ColumnGuide::Follow() {
    const QTextCursor caret = area_.textCursor();
    const QTextBlock block = caret.block();
    const int line = block.blockNumber();
    const std::optional<UnitColumn> column =
        model_.Map().UnitsAt(line + 1, model_.ByteAt(line, caret.position() - block.position()));
    std::vector<QTextCursor> marked;
    if (column)
        for (const SourcePlace& place : {column->pitch, column->timbre, column->duration})
            if (QTextCursor cursor = model_.CursorFor(place); !cursor.isNull()) marked.push_back(cursor);
    if (marked == marked_) return;
    marked_ = std::move(marked);

    const QPalette& palette = area_.palette();
    QTextCharFormat format;
    format.setBackground(Mixed(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.13));
    QList<QTextEdit::ExtraSelection> marks;
    for (const QTextCursor& cursor : marked_)
        marks.push_back(QTextEdit::ExtraSelection{cursor, format});
    area_.SetMarks(MarkLayer::Guide, std::move(marks));
}

} // namespace nagisora
