// The score area's model follows every kind of edit: after each, its lines and map are those of the whole
// text read afresh.

#include "app/score_area.h"
#include "app/score_model.h"
#include "core/score_map.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>

using namespace nagisora;

namespace {

std::vector<std::string> FreshLines(const QString& text) {
    QStringList pieces = text.split(u'\n');
    if (!pieces.isEmpty() && pieces.back().isEmpty()) pieces.removeLast();
    std::vector<std::string> lines;
    for (const QString& piece : pieces)
        lines.push_back(EncodeCp932(piece.toStdString()).bytes);
    return lines;
}

} // namespace

class ScoreModelTest : public QObject {
    Q_OBJECT

  private slots:
    void followsRandomEdits() {
        ScoreArea area;
        ScoreModel model(*area.document());
        const QStringList pieces{u"ロ"_qs,   u"ツ"_qs, u"－"_qs, u"＋"_qs,
                                 u"１６"_qs, u"16"_qs, u"\n"_qs, u"\n\n"_qs,
                                 u"//"_qs,   u"　"_qs, u"😀"_qs,  QString(QChar::LineSeparator)};
        QRandomGenerator random(2026);
        for (int round = 0; round < 400; ++round) {
            QTextCursor cursor(area.document());
            const int length = area.document()->characterCount() - 1;
            cursor.setPosition(random.bounded(length + 1));
            if (random.bounded(3) == 0)
                cursor.setPosition(std::min(length, cursor.position() + random.bounded(6)),
                                   QTextCursor::KeepAnchor);
            if (random.bounded(4) == 0)
                cursor.removeSelectedText();
            else
                cursor.insertText(pieces[random.bounded(pieces.size())]);
            const std::vector<std::string> expected = FreshLines(area.toPlainText());
            QCOMPARE(model.LineBytes(), expected);
            const std::vector<std::string_view> views(expected.begin(), expected.end());
            QCOMPARE(model.Map().events.size(), MapScore(views).events.size());
        }
    }

    // A place of the map selects exactly its characters, and a position of the area gives its byte back.
    void placesAndPositionsAgree() {
        ScoreArea area;
        area.setPlainText(u"  16\nロ😀ツ\n"_qs);
        ScoreModel model(*area.document());
        const QTextCursor tsu = model.CursorFor(SourcePlace{2, 3, 2});
        QCOMPARE(tsu.selectedText(), u"ツ"_qs);
        QCOMPARE(model.PlaceOf(tsu), (SourcePlace{2, 3, 2}));
        QCOMPARE(model.CursorFor(SourcePlace{1, 2, 2}).selectedText(), u"16"_qs);
        QVERIFY(model.CursorFor(SourcePlace{1, 8, 2}).isNull()); // padding past the line's end
    }
};

QTEST_MAIN(ScoreModelTest)
#include "score_model_test.moc"
