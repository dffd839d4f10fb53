#include "cp932.h"
#include "fHelp.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

namespace nagisora {

class FHelpTest : public QObject {
    Q_OBJECT

  private:
    static QStringList Lines() {
        QStringList lines = THelpF::HelpText().split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast(); // after the last line break
        return lines;
    }

  private slots:
    void TextHasItsFortySevenLines() {
        const QStringList lines = Lines();
        QCOMPARE(lines.size(), 47);
        QVERIFY(THelpF::HelpText().endsWith(QLatin1Char('\n')));
        for (int n : {1, 3, 7, 11, 15, 18, 25, 29, 35, 39, 47}) QVERIFY2(lines[n - 1].isEmpty(), qPrintable(QString::number(n)));
        QCOMPARE(lines[1], QStringLiteral("   --------- テキスト楽譜をMIDIファイルに変換するソフト"));
        QCOMPARE(lines[3], QStringLiteral("■ 変換できる楽譜の形式"));
        QCOMPARE(lines[29], QStringLiteral("　　・ ロ、ツ、レ、ウ、チ、ヰ、ハ、リ、ヒ、ピ、タ、四"));
        QCOMPARE(lines[39], QStringLiteral("　　・ [　]（全角の空白で、２拍）"));
        QCOMPARE(lines[44], QStringLiteral("　　・ ３（３連符）、５（５連符）、７（７連符）"));
    }

    void IndentsWithIdeographicSpaces() {
        const QStringList lines = Lines();
        const QList<int> indented{20, 21, 22, 23, 24, 27, 28, 30, 31, 32, 33, 34, 37, 38,
                                  40, 41, 42, 43, 44, 45, 46};
        for (int n = 1; n <= 47; ++n) {
            const bool expected = indented.contains(n);
            QCOMPARE(lines[n - 1].startsWith(QStringLiteral("　　")), expected);
        }
        QVERIFY(lines[30].endsWith(QLatin1Char(',')));
        QVERIFY(lines[31].endsWith(QLatin1Char(',')));
    }

    // The characters whose forms differ between Shift-JIS tables are the code page 932 ones.
    void UsesTheCodePage932Forms() {
        const std::string bytes = EncodeCp932(THelpF::HelpText().toStdString()).bytes;
        QVERIFY(EncodeCp932(THelpF::HelpText().toStdString()).unmappable.empty());
        QVERIFY(bytes.find("(00\x81\x60" "7F") != std::string::npos); // ～
        QVERIFY(bytes.find("\x81\x7C\x81\x41\x81\x5C") != std::string::npos); // －、―
    }

    void WindowIsFixedReadOnlyAndOutOfTheTabOrder() {
        THelpF help;
        QCOMPARE(help.windowTitle(), QStringLiteral("HelpF"));
        QVERIFY(!help.isVisible());
        QCOMPARE(help.minimumSize(), help.maximumSize());
        QVERIFY(!(help.windowFlags() & Qt::WindowMaximizeButtonHint));
        QPlainTextEdit* memo = help.Memo1();
        QVERIFY(memo->isReadOnly());
        QVERIFY(!(memo->focusPolicy() & Qt::TabFocus));
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memo->toPlainText(), THelpF::HelpText());
        help.ShowInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QCOMPARE(memo->geometry(), help.rect());
        QTest::keyClicks(memo, QStringLiteral("abc"));
        QCOMPARE(memo->toPlainText(), THelpF::HelpText());
    }

    void KeepsItsPlaceAfterClosing() {
        THelpF help;
        help.ShowInFront();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        help.move(help.pos() + QPoint(37, 23));
        const QPoint moved = help.pos();
        help.Memo1()->verticalScrollBar()->setValue(5);
        QVERIFY(help.close());
        QVERIFY(!help.isVisible());
        help.ShowInFront();
        QVERIFY(help.isVisible());
        QCOMPARE(help.pos(), moved);
        QCOMPARE(help.Memo1()->toPlainText(), THelpF::HelpText());
    }
};

} // namespace nagisora

QTEST_MAIN(nagisora::FHelpTest)
#include "fHelp_test.moc"
