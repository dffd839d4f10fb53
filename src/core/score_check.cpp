#include "core/score_check.h"

#include "core/score_walk.h"
#include "core/symbol_tables.h"
#include "core/tuplets.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

namespace nagisora {
namespace {

constexpr std::size_t None = std::numeric_limits<std::size_t>::max();

struct CodeInfo {
    std::string_view name;
    Severity severity;
};

constexpr std::array<CodeInfo, 30> Codes{{
    {"half-width-in-pitch-line", Severity::Error},
    {"half-width-in-duration-line", Severity::Error},
    {"long-timbre-line", Severity::Error},
    {"long-duration-line", Severity::Error},
    {"no-duration-line", Severity::Warning},
    {"text-as-duration-line", Severity::Error},
    {"duration-line-read-as-pitch-line", Severity::Error},
    {"timbre-line-not-adjacent", Severity::Error},
    {"music-sharp", Severity::Error},
    {"comment-after-pitch", Severity::Error},
    {"unknown-symbol", Severity::Warning},
    {"accidental-unused", Severity::Warning},
    {"unknown-duration", Severity::Error},
    {"no-duration", Severity::Warning},
    {"duration-under-no-note", Severity::Warning},
    {"tuplet-cut", Severity::Error},
    {"tuplet-marker-overwritten", Severity::Warning},
    {"tuplet-base-in-tuplet", Severity::Warning},
    {"timbre-not-over-note", Severity::Error},
    {"timbre-above-7f", Severity::Error},
    {"timbre-from-text", Severity::Warning},
    {"too-many-notes", Severity::Error},
    {"line-too-long", Severity::Error},
    {"not-a-pitch-line", Severity::Warning},
    {"not-in-cp932", Severity::Warning},
    {"leading-characters", Severity::Error},
    {"measure-length", Severity::Warning},
    {"tuplet-durations", Severity::Warning},
    {"tuplet-off-beat", Severity::Warning},
    {"lines-apart", Severity::Warning},
}};
static_assert(Codes.size() == static_cast<std::size_t>(FindingCode::LinesApart) + 1, "a row per code");

// The messages: what happens, then what to write instead.
namespace msg {
constexpr std::string_view HalfWidthShiftsScore =
    "半角文字があるため、これ以降の音がすべて 1 バイトずれて読まれます。全角にしてください";
constexpr std::string_view HalfWidthShiftsLine =
    "半角文字があるため、この行のこの後の記号が 1 バイトずれて読まれます。全角にしてください";
constexpr std::string_view HalfWidthInDurations =
    "半角文字があるため、この行のこの後の音長が 1 バイトずれて読まれます。"
    "全角にしてください (2 拍は全角スペース「　」)";
constexpr std::string_view LongTimbreLine =
    "音色行が音高行より長いため、次の組から音色番号が前の音符にずれます。"
    "音高行より長い部分を消してください";
constexpr std::string_view LongTimbreText =
    "この行は下の音高行の音色行として読まれ、音高行より長いため、次の組から音色番号がずれます。"
    "この行と音高行の間に空行を入れてください";
constexpr std::string_view LongDurationLine =
    "音長行が音高行より長いため、次の組から音長が前の音符にずれます。"
    "音高行より長い部分を消してください";
constexpr std::string_view LongDurationText =
    "この行は上の音高行の音長行として読まれ、音高行より長いため、次の組から音長がずれます。"
    "音高行のすぐ下に正しい音長行を書いてください";
constexpr std::string_view NoDurationLineAtEnd =
    "音長行がないため、この行の音はすべて 2 拍になります。音高行のすぐ下に音長行を書いてください";
constexpr std::string_view NoDurationLineBlank =
    "音高行のすぐ下が空行のため、この行の音はすべて 2 拍になります。"
    "音長行は音高行のすぐ下に書いてください";
constexpr std::string_view NoDurationLineBlankThenDurations =
    "音高行と音長行の間に空行があるため、音長行は使われず、この行の音はすべて 2 拍になります。"
    "空行を削除してください";
constexpr std::string_view CommentAsDurations =
    "すぐ下の注釈行が音長行として読まれるため、この行の音の長さが正しくなりません (多くは 0)。"
    "音高行のすぐ下に音長行を書いてください";
constexpr std::string_view TextAsDurations =
    "すぐ下の行に音長記号がないまま音長行として読まれるため、この行の音の長さが正しくなりません (多くは 0)。"
    "音高行のすぐ下に音長行を書いてください";
constexpr std::string_view PitchAsDurations =
    "すぐ下の行も音高行のため、その記号が音長として読まれ、この行の音の長さが正しくなりません (多くは 0)。"
    "間に音長行を書いてください";
constexpr std::string_view DurationLineReadAsPitchLine =
    "音長行に音高の記号 (「ー」など) があるため、この行も音高行として読まれ、余分な音符ができます "
    "(後の組の音色や音長もずれることがあります)。1 拍は「－」(全角マイナス) にし、音長行には音長記号だけを"
    "書いてください";
constexpr std::string_view TimbreAboveBlank =
    "音色行と音高行の間に空行があるため、この音色番号は使われません。"
    "空行を削除してください";
constexpr std::string_view TimbreAboveComment =
    "音色行と音高行の間に注釈行があるため、この音色番号は使われません (注釈行が音色行として読まれます)。"
    "注釈行を音色行の上に移してください";
constexpr std::string_view TimbreAboveText =
    "音色行と音高行の間に別の行があるため、この音色番号は使われません。間の行を音色行の上に移してください";
constexpr std::string_view MusicSharp =
    "♯ (音楽記号) では音は上がりません。半音上げるには全角の「＃」を使ってください";
constexpr std::string_view CommentAfterPitch =
    "音符の後の「//」は注釈にならず、この後の文字も音符として読まれます。"
    "注釈は別の行の先頭に「//」を付けて書いてください";
constexpr std::string_view UnknownSymbol = "記譜の記号ではないため読み飛ばされ、音になりません。"
                                           "音符は ロ ツ レ チ ハ ヒ などの全角カタカナで書いてください";
constexpr std::string_view AccidentalBeforeRest =
    "この変化記号の次は ○ か ー "
    "のため、効果がありません。変化記号は音を上げ下げする音符の直前に書いてください";
constexpr std::string_view AccidentalReplaced =
    "次の音符の前にもう一つ変化記号があるため、この変化記号は効果がありません。どちらか一つにしてください";
constexpr std::string_view AccidentalAtEnd =
    "この後に音符がないため、この変化記号は効果がありません。変化記号は音符の直前に書いてください";
constexpr std::string_view UnknownDuration =
    "音長記号ではないため、この音の長さが 0 になります。－ (1 拍)、＋ (半拍)、＝ (1/4 拍)、＊ (1/8 拍)、"
    "全角スペース (2 拍)、連符の ３ ５ ７ のどれかにしてください";
constexpr std::string_view NoDuration = "音長行がここまで届いていないため、この音は 2 拍になります。"
                                        "音符の真下に音長記号を書いてください (2 拍なら全角スペース「　」)";
constexpr std::string_view DurationUnderNoNote =
    "この音長記号の上に音符がないため使われません。音長記号は音符の真下に書いてください";
constexpr std::string_view DurationsPastPitchLine =
    "音高行より長い部分の音長は使われません。音符が足りなければ音高行に書き足してください";
constexpr std::string_view TupletWithoutBase =
    "最初の音に連符の印があるため基準の長さがなく、この音の長さが 0 になります。"
    "連符の印は連符の真ん中の音の下に書いてください";
constexpr std::string_view TupletCutBefore =
    "連符の印の前に音が足りないため、連符が途中で切れます。"
    "連符の印は真ん中の音 (3 連符は 2 番目、5 連符は 3 番目、7 連符は 4 "
    "番目) の下に書いてください";
constexpr std::string_view TupletCutAfter = "連符の印の後に音が足りないため、連符が途中で切れます。"
                                            "連符の音をすべて書くか、連符の印を消してください";
constexpr std::string_view TupletOverwritten =
    "この連符の印は前の連符の中にあるため、働かずに前の連符の長さになります。"
    "連符の印は一つの連符に一つ、真ん中の音の下に書いてください";
constexpr std::string_view TupletBaseInTuplet =
    "この連符の基準の音 (印の前の音) が前の連符の中にあるため、短くなった長さが基準になります。"
    "基準の音は連符の外に置いてください";
constexpr std::string_view TimbreMisaligned =
    "音色番号が音符の真上から半角 1 文字ずれているため使われません。音符の左端の真上から 2 "
    "桁で書いてください";
constexpr std::string_view TimbreDigits =
    "音色番号は 16 進数 2 桁で書いてください (例: 0A)。このままでは使われません";
constexpr std::string_view TimbreNotHex =
    "音色番号は半角の 16 進数 2 桁 (00〜7F) で書いてください。このままでは使われません";
constexpr std::string_view TimbreOverRest =
    "音色番号が ○ か ー の上にあるため使われません。音の出る音符の真上に書いてください";
constexpr std::string_view TimbreOverNoNote =
    "この音色番号の下に音符がないため使われません。音符の真上に書いてください";
constexpr std::string_view TimbreFromText =
    "この行は下の音高行の音色行として読まれ、ここが音色番号になります。"
    "音色番号でなければ、この行と音高行の間に空行を入れてください";
constexpr std::string_view LineTooLong =
    "行が 4096 バイトを超えているため、ここから後は読まれません。行を分けてください";
constexpr std::string_view NotAPitchLine =
    "音高行を決める記号 (ロ ツ レ チ ハ ヒ ウ リ ピ タ 四 甲 乙 ♭ ↓ ー など) がないため、この行は読まれず、○ "
    "や ヰ "
    "も音になりません。音高行ならそれらの記号を含め、注釈なら行の先頭に「//」を付けてください";
constexpr std::string_view NotInCodePage932 =
    "コードページ 932 にない文字のため「?」(半角) として読まれます。別の文字にしてください";
constexpr std::string_view TupletDurations =
    "連符の音の音長が基準の音 (印の前の音) と違いますが、連符ではすべて基準の長さで割られ、書いた長さには"
    "なりません。連符の印は真ん中の音の下に書き、連符の音はすべて同じ音長記号にしてください";
constexpr std::string_view TupletOffBeat =
    "この連符は拍の頭から始まっていないため、連符の印が真ん中の音の下からずれているようです。"
    "連符の印は連符の真ん中の音 (3 連符は 2 番目、5 連符は 3 番目、7 連符は 4 番目) の下に書いてください";
constexpr std::string_view LinesApart =
    "音高行と音長行がここから合っていません (小節線や記号の下に音長記号があります)。この前の音符か音長記号が"
    "多いか足りないため、この後の音の長さがずれます";
constexpr std::string_view LinesApartAtDuration =
    "音高行と音長行がここから 1 "
    "つずれています。ここの音長記号が多いか足りないため、この後の音の長さがずれます";
constexpr std::string_view LinesApartInRange =
    "音高行と音長行がこの範囲のどこかから 1 つずれています。ここに音符が多いか足りない "
    "(または音長記号が足りない"
    "か多い) ため、この後の音の長さがずれます";
constexpr std::string_view SameEvents = " (このままでも音は変わりません)";
} // namespace msg

// The beats of a number of ticks as the messages write them: "4", "3.5", "0.125".
std::string BeatsText(std::int32_t ticks) {
    std::string text = std::to_string(ticks / 120);
    std::int32_t rest = std::abs(ticks % 120);
    if (rest == 0) return text;
    text += '.';
    for (int digit = 0; digit < 3 && rest != 0; ++digit) {
        rest *= 10;
        text += static_cast<char>('0' + rest / 120);
        rest %= 120;
    }
    return text;
}

std::string MeasureLengthMessage(std::int32_t expected, std::int32_t found) {
    return "この小節は " + BeatsText(expected) + " 拍のはずが " + BeatsText(found) +
           " 拍です。音符か音長記号が多すぎるか足りないようです";
}

std::string LeadingCharactersMessage(std::size_t notes) {
    return "音高の記号の前に半角文字などがあるため、この行は音高行として読まれず、" + std::to_string(notes) +
           " 個の音がすべて鳴りません。この文字を消すか全角にしてください";
}

std::string TimbreAbove7FMessage(std::string_view digits) {
    return "音色番号 " + std::string(digits) +
           " は 7F を超えているため、MIDI データが正しくなりません。00〜7F にしてください";
}

std::string TooManyNotesMessage(std::size_t count) {
    return "音符が " + std::to_string(count) +
           " 個あり、4096 を超えているため MIDI に変換できません。楽譜を分けてください";
}

bool IsHexDigit(char byte) {
    return detail::HexDigit[static_cast<unsigned char>(byte)] >= 0;
}

// Full-width digits and letters (０–９, Ａ–Ｚ, ａ–ｚ): what a timbre number typed in full width holds.
bool IsFullWidthAlphanumeric(std::string_view line, std::size_t b) {
    const auto lead = static_cast<unsigned char>(line[b]);
    const auto trail = static_cast<unsigned char>(line[b + 1]);
    return lead == 0x82 && ((trail >= 0x4F && trail <= 0x58) || (trail >= 0x60 && trail <= 0x79) ||
                            (trail >= 0x81 && trail <= 0x9A));
}

bool IsFullWidthHexDigit(std::string_view line, std::size_t b) {
    const auto lead = static_cast<unsigned char>(line[b]);
    const auto trail = static_cast<unsigned char>(line[b + 1]);
    return lead == 0x82 && ((trail >= 0x4F && trail <= 0x58) || (trail >= 0x60 && trail <= 0x65) ||
                            (trail >= 0x81 && trail <= 0x86));
}

bool IsDurationSymbol(Unit unit) {
    return detail::DurationIndex[unit] != 0 && unit != symbol::TwoSpaces;
}

// A duration symbol that takes a time of its own: not the full-width space, which also fills the columns
// under markers and bar lines.
bool IsMarkedDuration(Unit unit) {
    return IsDurationSymbol(unit) && unit != symbol::Space;
}

Unit UnitOfLine(std::string_view line, std::size_t b) {
    return MakeUnit(static_cast<unsigned char>(line[b]), static_cast<unsigned char>(line[b + 1]));
}

// What the checker asks of a unit, by its value, in one lookup.
enum UnitFact : std::uint8_t {
    DoubleByte = 1,     // a lead byte and a trail byte: one two-byte character
    AnyDuration = 2,    // in the duration table, the spaces included
    MarkedDuration = 4, // in the duration table, the spaces left out
    NoteSymbol = 8,     // makes an event in a pitch line, ○ and ー included
    PitchMark = 16,     // makes a line a pitch line, and is not ー
    Bar = 32,           // ｜
    NoDuration = 64,    // neither in the duration table nor ｜
};

const std::array<std::uint8_t, 65536>& Facts() {
    static const std::array<std::uint8_t, 65536> facts = [] {
        std::array<std::uint8_t, 65536> table{};
        for (std::size_t u = 0; u < table.size(); ++u) {
            const auto unit = static_cast<Unit>(u);
            const char bytes[2] = {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
            table[u] =
                std::uint8_t((IsDoubleByteAt(std::string_view(bytes, 2), 0) ? DoubleByte : 0) |
                             (detail::DurationIndex[unit] != 0 ? AnyDuration : 0) |
                             (IsMarkedDuration(unit) ? MarkedDuration : 0) |
                             (SymbolClass(unit) == ClassNoteSymbol ? NoteSymbol : 0) |
                             (IsPitchLineSymbol(unit) && unit != symbol::Hold ? PitchMark : 0) |
                             (unit == symbol::BarLine ? Bar : 0) |
                             (detail::DurationIndex[unit] == 0 && unit != symbol::BarLine ? NoDuration : 0));
        }
        return table;
    }();
    return facts;
}

// The events a conversion makes of aligned texts, tuplets timed, also past the conversion's limit.
std::vector<NoteEvent> TimedEvents(const AlignedTexts& texts) {
    std::vector<NoteEvent> events;
    events.reserve(texts.PitchText.size() / 2 + 1);
    walk::GrowingStore store(events);
    std::size_t count = 0;
    walk::WalkUnits(texts, 0, store, walk::IgnoreUnits{}, count);
    events.resize(count);
    ApplyTuplets(events, static_cast<std::int32_t>(count));
    return events;
}

// How the events of a mended score differ from those of the score as written.
struct EventChange {
    std::size_t silent = 0; // the mended score has more events: as written, they do not sound
    std::size_t extra = 0;  // the mended score has fewer: as written, they are extra notes
    std::size_t durations = 0;
    std::size_t keys = 0;
    std::size_t timbres = 0;

    bool Any() const { return silent + extra + durations + keys + timbres != 0; }
};

EventChange CompareEvents(const std::vector<NoteEvent>& written, const std::vector<NoteEvent>& mended) {
    EventChange change;
    if (mended.size() > written.size()) change.silent = mended.size() - written.size();
    if (written.size() > mended.size()) change.extra = written.size() - mended.size();
    for (std::size_t k = 0, n = std::min(written.size(), mended.size()); k < n; ++k) {
        change.durations += written[k].ticks != mended[k].ticks;
        change.keys += written[k].key != mended[k].key;
        change.timbres += written[k].program != mended[k].program;
    }
    return change;
}

// What moves, in the words of the messages.
std::string ChangeText(const EventChange& change) {
    std::vector<std::string> parts;
    if (change.silent) parts.push_back(std::to_string(change.silent) + " 音が鳴りません");
    if (change.extra) parts.push_back("余分な音が " + std::to_string(change.extra) + " 個できます");
    if (change.durations)
        parts.push_back("この後の " + std::to_string(change.durations) + " 音の長さがずれます");
    if (change.keys) parts.push_back(std::to_string(change.keys) + " 音の高さが変わります");
    if (change.timbres) parts.push_back(std::to_string(change.timbres) + " 音の音色がずれます");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "、") + part;
    return " (" + text + ")";
}

// The full-width twin of a one-byte character, as the writer most likely meant it: the duration and pitch
// symbols first, then the other printable ASCII characters; anything else becomes a full-width space.
std::string_view FullWidthOf(char byte) {
    static constexpr std::string_view Ascii[] = {
        "\x81\x40", "\x81\x49", "\x81\x68", "\x81\x94", "\x81\x90", "\x81\x93", "\x81\x95",
        "\x81\x66", "\x81\x69", "\x81\x6A", "\x81\x96", "\x81\x7B", "\x81\x43", "\x81\x7C",
        "\x81\x44", "\x81\x5E", "\x82\x4F", "\x82\x50", "\x82\x51", "\x82\x52", "\x82\x53",
        "\x82\x54", "\x82\x55", "\x82\x56", "\x82\x57", "\x82\x58", "\x81\x46", "\x81\x47",
        "\x81\x83", "\x81\x81", "\x81\x84", "\x81\x48", "\x81\x97"};
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 0x20 && c <= 0x40) return Ascii[c - 0x20];
    static const std::array<std::string, 26> upper = [] {
        std::array<std::string, 26> letters;
        for (int i = 0; i < 26; ++i)
            letters[static_cast<std::size_t>(i)] = {'\x82', static_cast<char>(0x60 + i)};
        return letters;
    }();
    static const std::array<std::string, 26> lower = [] {
        std::array<std::string, 26> letters;
        for (int i = 0; i < 26; ++i)
            letters[static_cast<std::size_t>(i)] = {'\x82', static_cast<char>(0x81 + i)};
        return letters;
    }();
    if (c >= 'A' && c <= 'Z') return upper[c - 'A'];
    if (c >= 'a' && c <= 'z') return lower[c - 'a'];
    switch (c) {
    case '[':
        return "\x81\x6D";
    case '\\':
        return "\x81\x8F";
    case ']':
        return "\x81\x6E";
    case '^':
        return "\x81\x4F";
    case '_':
        return "\x81\x51";
    case '`':
        return "\x81\x4D";
    case '{':
        return "\x81\x6F";
    case '|':
        return "\x81\x62";
    case '}':
        return "\x81\x70";
    case '~':
        return "\x81\x60";
    default:
        return "\x81\x40";
    }
}

struct ByteRun {
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t End() const { return start + length; }
};

// Where the characters of a line stand: its runs of one-byte characters; every other character is two bytes.
class CharGrid {
  public:
    CharGrid() = default;
    explicit CharGrid(std::string_view line) : line_(line) {
        for (std::size_t b = 0; b < line.size();) {
            if (IsDoubleByteAt(line, b)) {
                b += 2;
                continue;
            }
            if (!runs_.empty() && runs_.back().End() == b)
                ++runs_.back().length;
            else
                runs_.push_back(ByteRun{b, 1});
            ++b;
        }
    }

    // A line known to hold two-byte characters only.
    static CharGrid OfDoubleBytes(std::string_view line) {
        CharGrid grid;
        grid.line_ = line;
        return grid;
    }

    const std::vector<ByteRun>& Runs() const { return runs_; }

    // Whether bytes b and b + 1 are one two-byte character or two one-byte characters: a unit that holds
    // what the writer typed, not halves of characters.
    bool WholeAt(std::size_t b) const {
        if (b + 1 >= line_.size()) return false;
        if (runs_.empty()) return b % 2 == 0;
        const auto after =
            std::partition_point(runs_.begin(), runs_.end(), [b](const ByteRun& r) { return r.End() <= b; });
        if (after != runs_.end() && after->start <= b) return b + 1 < after->End();
        const std::size_t gapStart = after == runs_.begin() ? 0 : (after - 1)->End();
        return (b - gapStart) % 2 == 0;
    }

  private:
    std::string_view line_;
    std::vector<ByteRun> runs_;
};

// The entries of a line that may hold timbre numbers: runs of characters other than spaces.
struct Entry {
    std::size_t start = 0;
    std::size_t bytes = 0;
    std::size_t characters = 0;
    bool halfWidthHex = true; // every character a one-byte hexadecimal digit
    bool anyHex = true;       // every character a hexadecimal digit, in either width
};

// Appends the entries of a line to entries; returns false when the line has a two-byte character that is
// neither a space nor a full-width digit or letter (then it is text, and the entries are incomplete).
bool AppendEntries(std::string_view line, std::vector<Entry>& entries) {
    unsigned char high = 0;
    for (const char byte : line)
        high |= static_cast<unsigned char>(byte);
    if (high < 0x80) { // one-byte characters only, as timbre lines are
        constexpr std::uint64_t Spaces = 0x2020202020202020;
        for (std::size_t b = 0; b < line.size(); ++b) {
            std::uint64_t eight = 0;
            while (b + 8 <= line.size() && (std::memcpy(&eight, line.data() + b, 8), eight == Spaces))
                b += 8; // timbre lines are mostly spaces
            if (b == line.size()) break;
            if (static_cast<unsigned char>(line[b]) <= 0x20) continue;
            Entry e{b};
            for (; b < line.size() && static_cast<unsigned char>(line[b]) > 0x20; ++b)
                e.halfWidthHex = e.halfWidthHex && IsHexDigit(line[b]);
            e.bytes = e.characters = b - e.start;
            e.anyHex = e.halfWidthHex;
            entries.push_back(e);
        }
        return true;
    }
    bool open = false;
    for (std::size_t b = 0; b < line.size();) {
        const bool pair = IsDoubleByteAt(line, b);
        const bool space =
            pair ? UnitOfLine(line, b) == symbol::Space : static_cast<unsigned char>(line[b]) <= 0x20;
        if (space) {
            open = false;
        } else {
            if (pair && !IsFullWidthAlphanumeric(line, b)) return false;
            if (!open) entries.push_back(Entry{b});
            open = true;
            Entry& e = entries.back();
            e.bytes += pair ? 2 : 1;
            ++e.characters;
            const bool hex = pair ? IsFullWidthHexDigit(line, b) : IsHexDigit(line[b]);
            e.halfWidthHex = e.halfWidthHex && !pair && hex;
            e.anyHex = e.anyHex && hex;
        }
        b += pair ? 2 : 1;
    }
    return true;
}

// Whether a line is written as timbre numbers: short entries of hexadecimal digits, half- or full-width,
// among spaces. Such a line above a pitch line is read entry by entry; any other line there is text. When it
// is, its entries are left in entries; otherwise entries is as it was.
bool ReadTimbreNumbers(std::string_view trimmed, LineKindOf kind, std::vector<Entry>& entries) {
    if (trimmed.empty() || kind == LineKindOf::Comment) return false;
    const std::size_t first = entries.size();
    bool numbers = AppendEntries(trimmed, entries);
    bool anyNumber = false;
    for (std::size_t e = first; e < entries.size() && numbers; ++e) {
        numbers = entries[e].characters <= 4;
        anyNumber = anyNumber || entries[e].anyHex;
    }
    if (numbers && anyNumber) return true;
    entries.resize(first);
    return false;
}

// What the whole units of a line, counted from its own first byte, are.
// How many duration symbols and note symbols a line that is also a pitch line holds, and whether all its
// pitch-line symbols are ー: what tells a duration line typed with ー from a pitch line of its own.
struct UnitCounts {
    std::size_t markedDurations = 0; // duration symbols other than the full-width space
    std::size_t notes = 0;           // note symbols, ○ and ー included
    bool onlyHolds = true;

    void Count(std::uint8_t facts) {
        markedDurations += (facts & MarkedDuration) != 0;
        notes += (facts & NoteSymbol) != 0;
        onlyHolds = onlyHolds && !(facts & PitchMark);
    }
};

// Whether every unit of a text, from its first byte, is one two-byte character.
bool HoldsDoubleBytesOnly(std::string_view text) {
    const std::array<std::uint8_t, 65536>& facts = Facts();
    std::uint8_t all = text.size() % 2 == 0 ? DoubleByte : 0;
    for (std::size_t b = 0; b + 1 < text.size(); b += 2)
        all &= facts[UnitOfLine(text, b)];
    return all != 0;
}

// A line that may be a duration line: where its characters stand, and the facts of any of its whole units
// (counted from its own first byte) joined. In one pass when it holds two-byte characters only, as duration
// lines do.
struct LineUnits {
    CharGrid grid;
    std::uint8_t any = 0;

    bool HasDurations() const { return (any & MarkedDuration) || !(any & NoDuration); }
};

LineUnits ReadLineUnits(std::string_view line) {
    const std::array<std::uint8_t, 65536>& facts = Facts();
    std::uint8_t all = line.size() % 2 == 0 ? DoubleByte : 0;
    std::uint8_t any = 0;
    for (std::size_t b = 0; b + 1 < line.size(); b += 2) {
        const std::uint8_t f = facts[UnitOfLine(line, b)];
        all &= f;
        any |= f;
    }
    if (all) return {CharGrid::OfDoubleBytes(line), any};
    LineUnits units{CharGrid(line), 0};
    for (std::size_t b = 0; b + 1 < line.size(); ++b)
        if (units.grid.WholeAt(b))
            units.any |= facts[UnitOfLine(line, b++)]; // and past the unit's second byte
    return units;
}

UnitCounts CountUnits(std::string_view line, const CharGrid& grid) {
    const std::array<std::uint8_t, 65536>& facts = Facts();
    UnitCounts counts;
    for (std::size_t b = 0; b + 1 < line.size(); ++b)
        if (grid.WholeAt(b)) counts.Count(facts[UnitOfLine(line, b++)]); // and past the unit's second byte
    return counts;
}

bool HasMarkedDurations(std::string_view line) {
    return (ReadLineUnits(line).any & MarkedDuration) != 0;
}

// Per unit of PitchText: whether it stands as the writer lined it up and is not covered by another finding.
enum UnitFlag : std::uint8_t {
    Whole = 1,      // one character or two one-byte characters of its own pitch line
    InComment = 2,  // after a "//" that makes no comment
    Suppressed = 4, // in a duration line read as a pitch line: reported as such
};

enum class DurationLine { Real, Missing, Blank, Comment, Text, PitchLine, ReadAsPitchLine };

struct SetFacts {
    std::string_view pitch;    // the pitch segment: the trimmed, seen pitch line
    std::string_view timbre;   // the trimmed, seen line above; empty for the stand-in
    std::string_view duration; // the trimmed, seen line below; empty for the stand-in
    DurationLine durationLine = DurationLine::Real;
    bool suppressed = false;       // the pitch line is a duration line read as a pitch line
    bool timbreNumbers = false;    // the line above is written as timbre numbers
    bool timbreAligned = false;    // its timbre segment starts where the pitch segment does, on an even byte
    bool durationAligned = false;  // the same for the duration segment
    bool longTimbre = false;       // later sets are shifted by this set's timbre line
    bool pitchDoubleBytes = false; // every unit of the pitch segment is one two-byte character
    CharGrid durationGrid;
    std::size_t entriesBegin = 0; // the timbre numbers' entries among the checker's entries
    std::size_t entriesEnd = 0;

    bool ChecksDurations() const { return durationAligned && durationLine == DurationLine::Real; }
};

// Where two lines come apart by one unit: the first and last byte where it may have been added or left out,
// and whether it is most likely a duration symbol (then first and last are the same), and whether surely:
// with it every measure is as long as most of its group's and every note on the beat.
struct Shift {
    std::size_t from = 0;
    std::size_t to = 0;
    bool inDurations = false;
    bool sure = false;
};

// The notes of a pitch line timed by a duration line, unit by unit, the tuplets too.
struct LineTiming {
    std::vector<NoteEvent> notes;
    std::vector<std::size_t> barAfter;  // per bar line: the notes before it
    std::vector<std::int32_t> groupEnd; // per first note of a whole tuplet group: its last (from 1), else 0
    std::size_t groupsUnlikeBase = 0;   // whole groups whose notes are written unlike their base
};

LineTiming TimeLine(const std::vector<Unit>& pitch, const std::vector<Unit>& duration) {
    constexpr std::int32_t TwoBeats = 240;
    LineTiming line;
    line.notes.reserve(pitch.size());
    for (std::size_t i = 0; i < pitch.size(); ++i)
        if (SymbolClass(pitch[i]) == ClassNoteSymbol)
            line.notes.push_back(NoteEvent{0, 0, i < duration.size() ? DurationOf(duration[i]) : TwoBeats});
        else if (pitch[i] == symbol::BarLine)
            line.barAfter.push_back(line.notes.size());
    std::vector<std::int32_t> written(line.notes.size());
    std::transform(line.notes.begin(), line.notes.end(), written.begin(),
                   [](const NoteEvent& n) { return n.ticks; });
    line.groupEnd.assign(line.notes.size() + 1, 0);
    ApplyTuplets(line.notes, static_cast<std::int32_t>(line.notes.size()), [&](const TupletGroup& g) {
        if (!g.Whole()) return;
        line.groupEnd[static_cast<std::size_t>(g.first - 1)] = g.last;
        const std::int32_t base = written[static_cast<std::size_t>(g.k - 2)];
        for (std::int32_t k = g.first; k <= g.last; ++k)
            if (k != g.k && written[static_cast<std::size_t>(k - 1)] != base) {
                ++line.groupsUnlikeBase;
                break;
            }
    });
    return line;
}

// The lengths of a timed line's measures, in ticks: up to each bar line, then the rest when notes follow.
std::vector<std::int64_t> MeasureLengths(const LineTiming& line) {
    std::vector<std::int64_t> lengths;
    std::size_t k = 0;
    const auto upTo = [&](std::size_t end) {
        std::int64_t length = 0;
        for (; k < end; ++k)
            length += line.notes[k].ticks;
        lengths.push_back(length);
    };
    for (const std::size_t end : line.barAfter)
        upTo(end);
    if (!line.barAfter.empty() && line.barAfter.back() != line.notes.size()) upTo(line.notes.size());
    return lengths;
}

// How many notes of a pitch line, timed by a duration line, stand against the beat as music is written: a
// note shorter than a beat that runs across one, a longer one that does not begin on one, a tuplet group
// that begins off the beat (or off a multiple of its length when shorter), or whose notes are written with
// other durations than its base. Counted from the line's start, which begins a measure. And, counted twice,
// the line's measures of another length than its group of line sets has (measure, in ticks), or when that
// is not known than most of the line's: a last one may be shorter when no bar line closes it, the length is
// not known or the line is its group's last (lastSet), and with pickup a first one.
std::size_t NotesAgainstBeat(const std::vector<Unit>& pitch, const std::vector<Unit>& duration, bool pickup,
                             bool lastSet, std::int32_t measure) {
    constexpr std::int32_t Beat = 120;
    const LineTiming line = TimeLine(pitch, duration);
    const std::vector<NoteEvent>& notes = line.notes;
    std::size_t against = line.groupsUnlikeBase;
    std::int64_t t = 0;
    for (std::size_t k = 0; k < notes.size(); ++k) {
        if (line.groupEnd[k] > 0) {
            std::int64_t span = 0;
            for (std::size_t g = k; g < static_cast<std::size_t>(line.groupEnd[k]); ++g)
                span += notes[g].ticks;
            const std::int64_t beat = std::min<std::int64_t>(span, Beat);
            against += beat > 0 && t % beat != 0;
            t += span;
            k = static_cast<std::size_t>(line.groupEnd[k]) - 1;
            continue;
        }
        const std::int32_t d = notes[k].ticks;
        if (d <= 0) continue;
        against += d < Beat ? t / Beat != (t + d - 1) / Beat : t % Beat != 0;
        t += d;
    }
    const std::vector<std::int64_t> lengths = MeasureLengths(line);
    std::int64_t most = measure;
    std::size_t mostCount = 0;
    for (const std::int64_t l : lengths) {
        const auto count = static_cast<std::size_t>(std::count(lengths.begin(), lengths.end(), l));
        if (measure <= 0 && (count > mostCount || (count == mostCount && l > most)))
            std::tie(most, mostCount) = std::tuple{l, count};
    }
    constexpr std::int64_t Slack = 4; // ticks a nested tuplet may lose
    const bool lastMayBeShort =
        measure <= 0 || lastSet || line.barAfter.empty() || line.barAfter.back() != notes.size();
    for (std::size_t m = 0; m < lengths.size(); ++m)
        if (lengths[m] > most + Slack ||
            (lengths[m] < most - Slack && (m > 0 || !pickup) && (m + 1 < lengths.size() || !lastMayBeShort)))
            against += 2;
    return against;
}

class Checker {
  public:
    Checker(std::span<const std::string_view> lines, const ScoreMap& map)
        : lines_(lines), map_(map), flags_(map.units.size(), 0) {}

    std::vector<Finding> Findings() {
        ReadSets();
        for (std::size_t s = 0; s < sets_.size(); ++s)
            CheckPitchLine(s);
        for (std::size_t s = 0; s < sets_.size(); ++s) {
            CheckNeighbourLines(s);
            CheckTimbreEntries(s);
            CheckDurationLine(s);
        }
        CheckUnits();
        CheckEvents();
        CheckTuplets();
        CheckLimits();
        CheckMeasures();
        ProveSeverities();
        PlaceFindings();
        return std::move(findings_);
    }

  private:
    std::string_view Seen(std::size_t j) const { return TrimLine(ScoreLine(lines_[j])); }
    const LineSet& Set(std::size_t s) const { return map_.sets[s]; }

    void Add(FindingCode code, std::size_t line, std::size_t byte, std::size_t bytes,
             std::string_view message) {
        Finding f;
        f.code = code;
        f.severity = SeverityOf(code);
        f.place = SourcePlace{static_cast<std::int32_t>(line + 1), static_cast<std::uint32_t>(byte),
                              static_cast<std::uint32_t>(std::max<std::size_t>(bytes, 1))};
        f.message = std::string(message);
        findings_.push_back(std::move(f));
    }
    void Add(FindingCode code, const SourcePlace& place, std::string_view message) {
        Add(code, static_cast<std::size_t>(place.line - 1), place.byte, place.bytes, message);
    }

    bool Readable(std::size_t c) const { return c >= 1 && c <= flags_.size() && flags_[c - 1] == Whole; }
    // The unit (from 1) that holds byte b of set s's pitch line.
    std::size_t UnitOf(std::size_t s, std::size_t b) const { return (Set(s).pitchStart + b) / 2 + 1; }
    // The units that lie wholly in set s's pitch segment.
    std::size_t FirstUnit(std::size_t s) const { return (Set(s).pitchStart + 1) / 2 + 1; }
    std::size_t LastUnit(std::size_t s) const {
        return std::min(flags_.size(), (Set(s).pitchStart + Set(s).pitchBytes) / 2);
    }
    // The byte of set s's pitch line where unit c begins.
    std::size_t ByteOf(std::size_t s, std::size_t c) const { return 2 * c - 2 - Set(s).pitchStart; }

    // What each set's neighbours are. A duration line with ー in it is gathered as a pitch line of its own;
    // that set is reported once, as such, and not checked as a set.
    void ReadSets() {
        sets_.resize(map_.sets.size());
        entries_.reserve(8 * sets_.size());
        for (std::size_t s = 0; s < sets_.size(); ++s) {
            const LineSet& set = Set(s);
            const std::size_t j = set.pitchLine;
            SetFacts& facts = sets_[s];
            facts.pitch = std::string_view(map_.texts.PitchText).substr(set.pitchStart, set.pitchBytes);
            if (j > 0) facts.timbre = Seen(j - 1);
            if (j + 1 < lines_.size()) facts.duration = Seen(j + 1);
            facts.entriesBegin = entries_.size();
            facts.timbreNumbers = j > 0 && ReadTimbreNumbers(facts.timbre, map_.lines[j - 1].kind, entries_);
            facts.entriesEnd = entries_.size();
            facts.timbreAligned = set.timbreStart == set.pitchStart && set.pitchStart % 2 == 0;
            facts.durationAligned = set.durationStart == set.pitchStart && set.pitchStart % 2 == 0;
            LineUnits below = ReadLineUnits(facts.duration);
            facts.durationLine = ClassifyDurationLine(s, below);
            facts.durationGrid = std::move(below.grid);
            if (facts.durationLine == DurationLine::ReadAsPitchLine) sets_[s + 1].suppressed = true;
        }
    }

    DurationLine ClassifyDurationLine(std::size_t s, const LineUnits& units) const {
        const std::size_t below = Set(s).pitchLine + 1;
        if (below >= lines_.size()) return DurationLine::Missing;
        const LineUse& use = map_.lines[below];
        if (use.blank) return DurationLine::Blank;
        if (use.kind == LineKindOf::Comment) return DurationLine::Comment;
        if (use.pitchOf >= 0) {
            // Mostly duration symbols, or ー alone with no duration line of its own: meant as the duration
            // line. Anything else is a pitch line of its own.
            const bool ownDurations = below + 1 < lines_.size() && !map_.lines[below + 1].blank &&
                                      map_.lines[below + 1].pitchOf < 0 &&
                                      HasMarkedDurations(Seen(below + 1));
            const UnitCounts counts = CountUnits(sets_[s].duration, units.grid);
            if (counts.markedDurations > counts.notes || (counts.onlyHolds && !ownDurations))
                return DurationLine::ReadAsPitchLine;
            return DurationLine::PitchLine;
        }
        return units.HasDurations() ? DurationLine::Real : DurationLine::Text;
    }

    // Half-width runs, "//" after a pitch symbol, and which units stand whole.
    void CheckPitchLine(std::size_t s) {
        const LineSet& set = Set(s);
        const std::string_view line = sets_[s].pitch;
        const std::uint8_t whole = sets_[s].suppressed ? Whole | Suppressed : Whole;
        // Two-byte characters from an even byte of PitchText: every character is one unit.
        if (Set(s).pitchStart % 2 == 0 && HoldsDoubleBytesOnly(line)) {
            sets_[s].pitchDoubleBytes = true;
            std::fill(flags_.begin() + static_cast<std::ptrdiff_t>(FirstUnit(s) - 1),
                      flags_.begin() + static_cast<std::ptrdiff_t>(LastUnit(s)), whole);
            return;
        }
        const CharGrid grid(line);
        for (std::size_t c = FirstUnit(s); c <= LastUnit(s); ++c)
            if (grid.WholeAt(ByteOf(s, c))) flags_[c - 1] = whole;
        if (grid.Runs().empty()) return;
        // A pair of one-byte characters in an odd run stands whole, but it is part of what that run's
        // finding reports.
        for (const ByteRun& run : grid.Runs())
            if (run.length % 2 == 1)
                for (std::size_t c = std::max(FirstUnit(s), UnitOf(s, run.start));
                     c <= std::min(UnitOf(s, run.End() - 1), LastUnit(s)); ++c)
                    flags_[c - 1] &= ~Whole;

        const std::size_t comment = CommentStart(line, grid.Runs());
        if (comment != None) {
            Add(FindingCode::CommentAfterPitch, set.pitchLine, comment, line.size() - comment,
                msg::CommentAfterPitch);
            for (std::size_t c = std::max(FirstUnit(s), UnitOf(s, comment)); c <= LastUnit(s); ++c)
                flags_[c - 1] |= InComment;
        }

        // Each odd run before the "//" shifts what follows it. An odd count of one-byte characters after
        // the "//" is reported at the last of them, since the line's length then shifts later sets.
        const bool shiftsLaterSets = line.size() % 2 == 1 && s + 1 < sets_.size();
        std::vector<ByteRun> odd;
        std::optional<ByteRun> lastOddInComment;
        for (const ByteRun& run : grid.Runs()) {
            const std::size_t split = std::clamp(comment, run.start, run.End());
            if ((split - run.start) % 2 == 1) odd.push_back(ByteRun{run.start, split - run.start});
            if ((run.End() - split) % 2 == 1) lastOddInComment = ByteRun{split, run.End() - split};
        }
        if (line.size() % 2 == 1 && odd.size() % 2 == 0 && lastOddInComment) odd.push_back(*lastOddInComment);
        for (std::size_t r = 0; r < odd.size(); ++r)
            Add(FindingCode::HalfWidthInPitchLine, set.pitchLine, odd[r].start, odd[r].length,
                shiftsLaterSets && r + 1 == odd.size() ? msg::HalfWidthShiftsScore
                                                       : msg::HalfWidthShiftsLine);
    }

    // The first "//" of two one-byte characters in a pitch line: the line is a pitch line, so it is no
    // comment wherever it stands.
    static std::size_t CommentStart(std::string_view line, const std::vector<ByteRun>& runs) {
        for (const ByteRun& run : runs)
            for (std::size_t b = run.start; b + 1 < run.End(); ++b)
                if (line[b] == '/' && line[b + 1] == '/') return b;
        return None;
    }

    // The lines above and below a set: what is read as its timbre and duration lines, and whether they shift
    // later sets.
    void CheckNeighbourLines(std::size_t s) {
        const LineSet& set = Set(s);
        const SetFacts& facts = sets_[s];
        const std::size_t j = set.pitchLine;
        // Of a duration line read as a pitch line, its neighbours' lengths follow from that, reported once.
        const bool laterSets = s + 1 < sets_.size() && !facts.suppressed;
        if (laterSets && set.timbreBytes > set.pitchBytes) {
            Add(FindingCode::LongTimbreLine, j - 1, set.pitchBytes, set.timbreBytes - set.pitchBytes,
                facts.timbreNumbers ? msg::LongTimbreLine : msg::LongTimbreText);
            sets_[s].longTimbre = true;
        }
        if (laterSets && set.durationBytes > set.pitchBytes)
            Add(FindingCode::LongDurationLine, j + 1, set.pitchBytes, set.durationBytes - set.pitchBytes,
                facts.durationLine == DurationLine::Real ||
                        facts.durationLine == DurationLine::ReadAsPitchLine
                    ? msg::LongDurationLine
                    : msg::LongDurationText);
        if (facts.suppressed) return;

        const auto onPitchLine = [&](FindingCode code, std::string_view message) {
            Add(code, j, 0, set.pitchBytes, message);
        };
        switch (facts.durationLine) {
        case DurationLine::Missing:
            onPitchLine(FindingCode::NoDurationLine, msg::NoDurationLineAtEnd);
            break;
        case DurationLine::Blank: {
            const bool durationsAfter = j + 2 < lines_.size() &&
                                        map_.lines[j + 2].Role() == LineRole::Other &&
                                        HasMarkedDurations(Seen(j + 2));
            onPitchLine(FindingCode::NoDurationLine,
                        durationsAfter ? msg::NoDurationLineBlankThenDurations : msg::NoDurationLineBlank);
            break;
        }
        case DurationLine::Comment:
            onPitchLine(FindingCode::TextAsDurationLine, msg::CommentAsDurations);
            break;
        case DurationLine::Text:
            onPitchLine(FindingCode::TextAsDurationLine, msg::TextAsDurations);
            break;
        case DurationLine::PitchLine:
            onPitchLine(FindingCode::TextAsDurationLine, msg::PitchAsDurations);
            break;
        case DurationLine::ReadAsPitchLine:
            AddPitchSymbolsOfDurationLine(s + 1);
            break;
        case DurationLine::Real:
            break;
        }

        // Timbre numbers kept from their pitch line by the line between.
        if (j >= 2 && !facts.timbreNumbers) {
            const LineUse& between = map_.lines[j - 1];
            const LineUse& above = map_.lines[j - 2];
            std::vector<Entry> numbers;
            if (between.pitchOf < 0 && between.durationOf < 0 && above.Role() == LineRole::Other &&
                ReadTimbreNumbers(Seen(j - 2), above.kind, numbers)) {
                const std::size_t first = numbers.front().start;
                Add(FindingCode::TimbreLineNotAdjacent, j - 2, first, Seen(j - 2).size() - first,
                    between.blank                         ? msg::TimbreAboveBlank
                    : between.kind == LineKindOf::Comment ? msg::TimbreAboveComment
                                                          : msg::TimbreAboveText);
            }
        }
    }

    // Every symbol of a duration line that makes it a pitch line or makes a note of its own.
    void AddPitchSymbolsOfDurationLine(std::size_t s) {
        for (std::size_t c = FirstUnit(s); c <= LastUnit(s); ++c) {
            if (!(flags_[c - 1] & Whole)) continue;
            const Unit unit = UnitAt(map_.texts.PitchText, c);
            if (IsPitchLineSymbol(unit) || SymbolClass(unit) == ClassNoteSymbol)
                Add(FindingCode::DurationLineReadAsPitchLine, Set(s).pitchLine, ByteOf(s, c), 2,
                    msg::DurationLineReadAsPitchLine);
        }
    }

    // The entries of a timbre number line: two hexadecimal digits exactly over a sounding note.
    void CheckTimbreEntries(std::size_t s) {
        const SetFacts& facts = sets_[s];
        if (facts.suppressed || !facts.timbreNumbers || !facts.timbreAligned) return;
        const std::size_t line = Set(s).pitchLine - 1;
        for (std::size_t i = facts.entriesBegin; i < facts.entriesEnd; ++i) {
            const Entry& e = entries_[i];
            if (e.start >= Set(s).pitchBytes && facts.longTimbre) continue; // reported as a long line
            if (!e.halfWidthHex)
                Add(FindingCode::TimbreNotOverNote, line, e.start, e.bytes, msg::TimbreNotHex);
            else if (e.characters % 2 == 1)
                Add(FindingCode::TimbreNotOverNote, line, e.start, e.bytes, msg::TimbreDigits);
            else
                for (std::size_t b = e.start; b < e.start + e.bytes; b += 2)
                    CheckTimbrePair(s, line, b);
        }
    }

    void CheckTimbrePair(std::size_t s, std::size_t line, std::size_t b) {
        const auto add = [&](FindingCode code, std::string_view message) { Add(code, line, b, 2, message); };
        if (b % 2 == 1) return add(FindingCode::TimbreNotOverNote, msg::TimbreMisaligned);
        if (b + 1 >= Set(s).pitchBytes) return add(FindingCode::TimbreNotOverNote, msg::TimbreOverNoNote);
        const std::size_t c = UnitOf(s, b);
        if (!Readable(c)) return; // what stands below is reported already
        switch (map_.units[c - 1]) {
        case UnitKind::Note:
            if (TimbreOf(UnitAt(map_.texts.TimbreText, c)) > 0x7F)
                add(FindingCode::TimbreAbove7F, TimbreAbove7FMessage(sets_[s].timbre.substr(b, 2)));
            return;
        case UnitKind::RestOrHold:
            return add(FindingCode::TimbreNotOverNote, msg::TimbreOverRest);
        default:
            return add(FindingCode::TimbreNotOverNote, msg::TimbreOverNoNote);
        }
    }

    // Half-width characters of a duration line, and what it holds past the last set's pitch line.
    void CheckDurationLine(std::size_t s) {
        const LineSet& set = Set(s);
        const SetFacts& facts = sets_[s];
        if (facts.suppressed || !facts.ChecksDurations()) return;
        const std::size_t line = set.pitchLine + 1;
        for (const ByteRun& run : facts.durationGrid.Runs())
            if (run.length % 2 == 1 && run.start < std::min(set.pitchBytes, set.durationBytes))
                Add(FindingCode::HalfWidthInDurationLine, line, run.start, run.length,
                    msg::HalfWidthInDurations);
        if (CheckLinesApart(s)) return;
        // Past the pitch line of the last set nothing is read. (Of an earlier set it shifts the later sets,
        // and is reported as a long line.) A full-width space there counts when the pitch line ends in a
        // note: most likely the duration of a note that is not written.
        if (s + 1 < sets_.size()) return;
        const bool endsInNote =
            set.pitchBytes >= 2 && (Facts()[UnitOfLine(facts.pitch, set.pitchBytes - 2)] & NoteSymbol);
        for (std::size_t b = set.pitchBytes; b + 1 < set.durationBytes; ++b)
            if (facts.durationGrid.WholeAt(b) &&
                (Facts()[UnitOfLine(facts.duration, b)] & (endsInNote ? AnyDuration : MarkedDuration))) {
                Add(FindingCode::DurationUnderNoNote, line, set.pitchBytes,
                    set.durationBytes - set.pitchBytes, msg::DurationsPastPitchLine);
                return;
            }
    }

    // Under a bar line of a pitch line stands ｜ or a space, under a register mark or an accidental a space,
    // and ｜ of a duration line stands under a bar line: the first place where the two lines break this is
    // where they have come apart. When one line holds a unit more than the other, the place the finding
    // points at is where the unit was most likely added or left out (see LocateShift); a duration line
    // longer than its pitch line is reported there too. Returns whether there was such a place.
    bool CheckLinesApart(std::size_t s) {
        const LineSet& set = Set(s);
        const SetFacts& facts = sets_[s];
        const std::string_view pitch = facts.pitch;
        const std::string_view duration = facts.duration.substr(0, set.durationBytes);
        // A unit missing or surplus makes the lines of different lengths.
        if (pitch.empty() || pitch.size() == duration.size() || !facts.pitchDoubleBytes ||
            !facts.durationGrid.Runs().empty() || duration.size() % 2 != 0)
            return false;
        const std::array<std::uint8_t, 65536>& facts932 = Facts();
        // Whether the duration line writes ｜ under bar lines: then nothing else may stand there. Asked only
        // where a bar line stands over something else, which is seldom.
        std::optional<bool> barsBelow;
        const auto writesBars = [&] {
            if (!barsBelow) {
                barsBelow = false;
                for (std::size_t at = 0; at + 1 < duration.size() && !*barsBelow; at += 2)
                    barsBelow = UnitOfLine(duration, at) == symbol::BarLine;
            }
            return *barsBelow;
        };
        // Whether the pitch unit at byte pb and the duration unit at byte db may stand one over the other.
        const auto agree = [&](std::size_t pb, std::size_t db) {
            const std::uint8_t above = facts932[UnitOfLine(pitch, pb)];
            const std::uint8_t below = facts932[UnitOfLine(duration, db)];
            if ((above & Bar) != (below & Bar) && ((below & MarkedDuration) || writesBars())) return false;
            return (above & (NoteSymbol | Bar)) || !(below & MarkedDuration) ||
                   map_.units[UnitOf(s, pb) - 1] == UnitKind::Other;
        };
        // Up to the end of the shorter line: notes past the end of the duration line have findings of
        // their own, and a bar line there is the duration line's closing one left out.
        const std::size_t end = std::min(pitch.size(), duration.size());
        std::size_t b = 0;
        while (b < end && agree(b, b))
            b += 2;
        const bool oneMore = pitch.size() + 2 == duration.size() || duration.size() + 2 == pitch.size();
        // With the lines agreeing to the end, a duration symbol past the pitch line is a unit too many; a
        // bar line or a space there is one when a shift reads better with the beat than the lines as
        // written (where the closing bar line or the last note's duration may simply be left out).
        const bool surplus = b >= end && duration.size() > pitch.size() &&
                             (facts932[UnitOfLine(duration, end)] & MarkedDuration);
        if (b >= end && !oneMore) return false;
        const std::optional<Shift> shift =
            oneMore ? LocateShift(pitch, duration, b, agree, b >= end && !surplus, s) : std::nullopt;
        if (b >= end && !surplus && !shift) return false;
        const std::size_t last = pitch.size() - 2; // the pitch line holds at least one unit, being longer or
                                                   // agreeing with a longer duration line
        const std::size_t at = std::min(shift ? shift->from : b, last);
        // A surplus past the pitch line's end, with the lines agreeing up to there, is marked where it is.
        for (Finding& f : findings_)
            if (b < end && f.code == FindingCode::LongDurationLine &&
                static_cast<std::size_t>(f.place.line) == set.pitchLine + 2) {
                f.place.byte = static_cast<std::uint32_t>(at);
                f.place.bytes = 2;
            }
        if (!shift)
            Add(FindingCode::LinesApart, set.pitchLine, at, 2, msg::LinesApart);
        else if (shift->sure) // on the duration line, where the symbol is to be added or taken out
            Add(FindingCode::LinesApart, set.pitchLine + 1, std::min(shift->from, duration.size()), 2,
                msg::LinesApartAtDuration);
        else if (shift->inDurations)
            Add(FindingCode::LinesApart, set.pitchLine, at, 2, msg::LinesApartAtDuration);
        else
            Add(FindingCode::LinesApart, set.pitchLine, at, std::min(shift->to, last) + 2 - at,
                msg::LinesApartInRange);
        return true;
    }

    // Where one line of a set holds a unit more than the other, the places (bytes) where adding or leaving
    // out one unit makes the two lines agree all along: before it they agree as written, after it shifted
    // by one unit. Among them, a duration symbol added or left out changes the rhythm, so the place where
    // it leaves the fewest notes against the beat is taken when that is fewer than a note added or left
    // out leaves (whose place changes no duration and cannot be told: then the first of the places, and
    // the span to the last). None when no place makes the lines agree.
    template <class Agree>
    // With beatWritten, a place is given only where it reads better with the beat than the lines as written.
    // The measures are those of set s's group: its first set may begin with a shorter one, its last end
    // with one.
    std::optional<Shift> LocateShift(std::string_view pitch, std::string_view duration,
                                     std::size_t firstApart, const Agree& agree, bool beatWritten,
                                     std::size_t s) {
        const bool pitchLonger = pitch.size() > duration.size();
        const std::size_t shorter = std::min(pitch.size(), duration.size());
        // The shifted pairs: pitch byte i + 2 over duration byte i, or pitch byte i over duration i + 2.
        const auto agreeShifted = [&](std::size_t i) {
            return pitchLonger ? agree(i + 2, i) : agree(i, i + 2);
        };
        std::size_t low = shorter;
        while (low > 0 && agreeShifted(low - 2))
            low -= 2;
        const std::size_t high = std::min(firstApart, shorter);
        const std::array<std::uint8_t, 65536>& facts = Facts();
        std::vector<std::size_t> places;
        for (std::size_t x = low; x <= high; x += 2) {
            const std::uint8_t unit = facts[pitchLonger ? UnitOfLine(pitch, x) : UnitOfLine(duration, x)];
            if (pitchLonger ? (unit & NoteSymbol) != 0 : (unit & AnyDuration) != 0) places.push_back(x);
        }
        if (places.empty()) return std::nullopt;
        Shift shift{places.front(), places.back(), false};
        if (shiftBudget_ == 0) return beatWritten ? std::nullopt : std::optional(shift);
        if (places.size() == 1 && !beatWritten) return shift;
        --shiftBudget_;
        const auto [first, end] = GroupOf(s);
        const bool pickup = s == first;
        const bool lastSet = s + 1 == end;
        const std::int32_t measure = GroupMeasure(first, end);
        std::vector<Unit> above;
        std::vector<Unit> below;
        for (std::size_t b = 0; b + 1 < pitch.size(); b += 2)
            above.push_back(UnitOfLine(pitch, b));
        for (std::size_t b = 0; b + 1 < duration.size(); b += 2)
            below.push_back(UnitOfLine(duration, b));
        // A note added or left out keeps the duration line's durations but moves the bar lines after it:
        // the places where it leaves the fewest notes against the beat (where the measures come out full)
        // make the span. A duration symbol added or left out there or elsewhere changes the rhythm: the one
        // place where that leaves fewer is taken instead.
        constexpr std::size_t MaxPlaces = 32;
        const std::size_t tried = std::min(places.size(), MaxPlaces);
        std::vector<std::size_t> asNotes(tried);
        std::vector<Unit> mended;
        for (std::size_t p = 0; p < tried; ++p) {
            mended = above;
            const auto at = mended.begin() + static_cast<std::ptrdiff_t>(places[p] / 2);
            if (pitchLonger)
                mended.erase(at);
            else
                mended.insert(at, symbol::Ro);
            asNotes[p] = NotesAgainstBeat(mended, below, pickup, lastSet, measure);
        }
        std::size_t best = *std::min_element(asNotes.begin(), asNotes.end());
        {
            std::size_t p = 0;
            while (asNotes[p] != best)
                ++p;
            std::size_t q = tried - 1;
            while (asNotes[q] != best)
                --q;
            shift = Shift{places[p], q + 1 == tried ? places.back() : places[q], false};
        }
        for (std::size_t p = 0; p < tried; ++p) {
            const auto x = static_cast<std::ptrdiff_t>(places[p] / 2);
            if (pitchLonger) { // a duration left out under the note at x: the one that fits best
                for (const Unit added :
                     {symbol::Space, MakeUnit(0x81, 0x7C), MakeUnit(0x81, 0x7B), MakeUnit(0x81, 0x81),
                      MakeUnit(0x82, 0x52), MakeUnit(0x82, 0x54)}) { // 　 － ＋ ＝ ３ ５
                    mended = below;
                    mended.insert(mended.begin() + x, added);
                    const std::size_t against = NotesAgainstBeat(above, mended, pickup, lastSet, measure);
                    if (against < best)
                        std::tie(best, shift) = std::tuple{against, Shift{places[p], places[p], true}};
                }
            } else { // the duration at x is one too many
                mended = below;
                mended.erase(mended.begin() + x);
                const std::size_t against = NotesAgainstBeat(above, mended, pickup, lastSet, measure);
                if (against < best)
                    std::tie(best, shift) = std::tuple{against, Shift{places[p], places[p], true}};
            }
        }
        if (beatWritten && best >= NotesAgainstBeat(above, below, pickup, lastSet, measure))
            return std::nullopt;
        shift.sure = shift.inDurations && best == 0 && measure > 0;
        return shift;
    }

    // The length more than half the measures of a group of line sets (first to end - 1) have as written, in
    // ticks, or 0 without such a length or two measures of one length: the measures closed by a bar line in
    // the sets whose lines agree in length, each timed by its own duration line (the group's first measure
    // may be a pickup). Not the events as read, which a shifted set puts off in every later set. Kept for
    // the last group asked.
    std::int32_t GroupMeasure(std::size_t first, std::size_t end) {
        if (measure_ && measure_->first == first) return measure_->second;
        std::map<std::int64_t, std::size_t> counts;
        std::vector<Unit> above;
        std::vector<Unit> below;
        for (std::size_t s = first; s < end; ++s) {
            const SetFacts& facts = sets_[s];
            if (facts.durationLine != DurationLine::Real || !facts.pitchDoubleBytes ||
                !facts.durationGrid.Runs().empty() || facts.pitch.size() != Set(s).durationBytes)
                continue;
            above.clear();
            below.clear();
            for (std::size_t b = 0; b + 1 < facts.pitch.size(); b += 2) {
                above.push_back(UnitOfLine(facts.pitch, b));
                below.push_back(UnitOfLine(facts.duration, b));
            }
            const LineTiming line = TimeLine(above, below);
            const std::vector<std::int64_t> lengths = MeasureLengths(line);
            for (std::size_t m = s == first ? 1 : 0; m < line.barAfter.size(); ++m)
                ++counts[lengths[m]];
        }
        std::int64_t most = 0;
        std::size_t mostCount = 2;
        std::size_t all = 0;
        for (const auto& [ticks, count] : counts) {
            all += count;
            if (count >= mostCount) std::tie(most, mostCount) = std::tuple{ticks, count};
        }
        if (2 * mostCount <= all) most = 0; // no length that most measures have
        measure_ = std::pair{first, static_cast<std::int32_t>(std::min<std::int64_t>(most, 1 << 30))};
        return measure_->second;
    }

    // The line sets of set s's group, first to end - 1: the sets not parted by a comment line.
    std::pair<std::size_t, std::size_t> GroupOf(std::size_t s) const {
        std::size_t first = s;
        while (first > 0 && !CommentBetween(first))
            --first;
        std::size_t end = s + 1;
        while (end < sets_.size() && !CommentBetween(end))
            ++end;
        return {first, end};
    }

    // One pass over the units of the pitch lines, in the reader's order: ♯, units that are no notation
    // symbol, accidentals that no note takes (the reader keeps one for the next note symbol, and ○ and ー use
    // it up), and duration symbols under units that make no note.
    void CheckUnits() {
        std::size_t s = 0;
        std::size_t pending = None;     // the accidental waiting for a note
        std::size_t lastUnknown = None; // the unit of the last finding of a unit that is no symbol
        const auto reportPending = [&](std::string_view message) {
            if (pending != None && Readable(pending))
                Add(FindingCode::AccidentalUnused, map_.PitchPlace(2 * pending - 2), message);
        };
        for (std::size_t c = 1; c <= map_.units.size(); ++c) {
            const UnitKind kind = map_.units[c - 1];
            if (kind == UnitKind::Note) {
                pending = None;
                continue;
            }
            if (kind == UnitKind::RestOrHold) {
                reportPending(msg::AccidentalBeforeRest);
                pending = None;
                continue;
            }
            if (kind == UnitKind::Accidental) {
                reportPending(msg::AccidentalReplaced);
                pending = c;
            }
            if (kind == UnitKind::Comment || !Readable(c)) continue;
            while (LastUnit(s) < c)
                ++s;
            const std::size_t b = ByteOf(s, c);
            const std::size_t line = Set(s).pitchLine;
            switch (kind) {
            case UnitKind::MusicSharp:
                Add(FindingCode::MusicSharp, line, b, 2, msg::MusicSharp);
                break;
            case UnitKind::Other:
                // Neighbouring units of one line make one finding: a word, not each of its characters.
                if (lastUnknown != None && lastUnknown + 1 == c && c > FirstUnit(s))
                    findings_.back().place.bytes += 2;
                else
                    Add(FindingCode::UnknownSymbol, line, b, 2, msg::UnknownSymbol);
                lastUnknown = c;
                break;
            default: { // a register marker, an accidental, a bar line or a space
                const SetFacts& facts = sets_[s];
                if (facts.ChecksDurations() && b + 1 < Set(s).durationBytes &&
                    facts.durationGrid.WholeAt(b) && IsMarkedDuration(UnitAt(map_.texts.DurationText, c)))
                    Add(FindingCode::DurationUnderNoNote, line + 1, b, 2, msg::DurationUnderNoNote);
                break;
            }
            }
        }
        reportPending(msg::AccidentalAtEnd);
    }

    // Under every note: a duration the table knows, and one written at all. Over it: a timbre from a line
    // that holds timbre numbers.
    void CheckEvents() {
        // What may be wrong with an event at all, so that most events are passed by their values alone.
        bool textTimbres = false;
        bool shortDurations = false;
        for (std::size_t s = 0; s < sets_.size(); ++s) {
            textTimbres = textTimbres || (!sets_[s].timbreNumbers && sets_[s].timbreAligned);
            shortDurations = shortDurations || Set(s).durationBytes < Set(s).pitchBytes;
        }
        std::size_t openEvent = None; // the last event without a duration, whose finding the next may extend
        std::size_t openFinding = 0;
        const NoteEvent* const read = map_.read.data();
        const std::size_t events = map_.events.size();
        for (std::size_t k = 0; k < events; ++k) {
            const NoteEvent& noteEvent = read[k];
            if (noteEvent.ticks != 0 && !shortDurations && (!noteEvent.HasProgram() || !textTimbres))
                [[likely]]
                continue;
            const EventPlace& e = map_.events[k];
            if (!Readable(e.unit)) continue;
            const auto s = static_cast<std::size_t>(e.set);
            const SetFacts& facts = sets_[s];
            if (!facts.timbreNumbers && facts.timbreAligned && noteEvent.HasProgram())
                Add(FindingCode::TimbreFromText, e.timbre, msg::TimbreFromText);
            if (!facts.ChecksDurations()) continue;
            const std::size_t b = ByteOf(s, e.unit);
            if (b >= Set(s).durationBytes) {
                if (openEvent != None && openEvent + 1 == k && map_.events[openEvent].set == e.set) {
                    SourcePlace& open = findings_[openFinding].place;
                    open.bytes = e.pitch.byte + e.pitch.bytes - open.byte;
                } else {
                    openFinding = findings_.size();
                    Add(FindingCode::NoDuration, e.pitch, msg::NoDuration);
                }
                openEvent = k;
            } else if (noteEvent.ticks == 0 && facts.durationGrid.WholeAt(b)) {
                Add(FindingCode::UnknownDuration, e.duration, msg::UnknownDuration);
                // Inside a tuplet group the pass gives the note its length all the same.
                if (map_.timed[k].ticks != 0) {
                    findings_.back().severity = Severity::Warning;
                    findings_.back().message += msg::SameEvents;
                }
            }
        }
    }

    // Tuplet groups as the pass timed them, and the markers inside a group, which the pass overwrote before
    // it met them.
    void CheckTuplets() {
        const auto durationOf = [&](std::int32_t k) -> std::optional<SourcePlace> {
            const EventPlace& e = map_.events[static_cast<std::size_t>(k - 1)];
            if (!Readable(e.unit) || !sets_[static_cast<std::size_t>(e.set)].ChecksDurations())
                return std::nullopt;
            return e.duration;
        };
        const TupletGroup* previous = nullptr;
        for (std::size_t g = 0; g < map_.tuplets.size(); ++g) {
            const TupletGroup& group = map_.tuplets[g];
            const std::int32_t w = group.marker / 2;
            const auto [code, message] =
                !group.hasBase              ? std::pair{FindingCode::TupletCut, msg::TupletWithoutBase}
                : group.first > group.k - w ? std::pair{FindingCode::TupletCut, msg::TupletCutBefore}
                : group.last < group.k + w  ? std::pair{FindingCode::TupletCut, msg::TupletCutAfter}
                : previous != nullptr && previous->last >= group.k - 1
                    ? std::pair{FindingCode::TupletBaseInTuplet, msg::TupletBaseInTuplet}
                    : std::pair{FindingCode::TupletCut, std::string_view()};
            if (!message.empty()) {
                if (const std::optional<SourcePlace> place = durationOf(group.k)) Add(code, *place, message);
            } else if (!WrittenAsBase(group)) {
                if (const std::optional<SourcePlace> place = durationOf(group.k))
                    Add(FindingCode::TupletDurations, *place, msg::TupletDurations);
            }
            const std::int32_t nextMarker = g + 1 < map_.tuplets.size()
                                                ? map_.tuplets[g + 1].k
                                                : std::numeric_limits<std::int32_t>::max();
            for (std::int32_t k = group.k + 1; k <= group.last && k < nextMarker; ++k) {
                const std::int32_t eventTicks = map_.read[static_cast<std::size_t>(k - 1)].ticks;
                if (!IsTupletMarker(eventTicks)) continue;
                if (const std::optional<SourcePlace> place = durationOf(k))
                    Add(FindingCode::TupletMarkerOverwritten, *place, msg::TupletOverwritten);
            }
            previous = &group;
        }
    }

    // The mended line of a finding about text that may be harmless, or nothing for the other findings.
    std::optional<std::string> MendedLine(const Finding& f) const {
        const auto j = static_cast<std::size_t>(f.place.line - 1);
        const std::string_view line = ScoreLine(lines_[j]);
        const auto cut = [&](std::int32_t set) -> std::optional<std::string> {
            if (set < 0) return std::nullopt;
            return std::string(TrimLine(line.substr(0, std::min(line.size(), Set(set).pitchBytes))));
        };
        switch (f.code) {
        case FindingCode::HalfWidthInPitchLine:
        case FindingCode::HalfWidthInDurationLine: {
            std::string mended(line.substr(0, f.place.byte));
            for (std::size_t b = f.place.byte;
                 b < std::min<std::size_t>(line.size(), f.place.byte + f.place.bytes); ++b)
                mended += FullWidthOf(line[b]);
            mended += line.substr(std::min<std::size_t>(line.size(), f.place.byte + f.place.bytes));
            return mended;
        }
        case FindingCode::LongTimbreLine:
            return cut(map_.lines[j].timbreOf);
        case FindingCode::LongDurationLine:
            return cut(map_.lines[j].durationOf);
        case FindingCode::CommentAfterPitch:
            return std::string(TrimLine(line.substr(0, f.place.byte)));
        case FindingCode::MusicSharp:
            return std::string(line.substr(0, f.place.byte)) + "\x81\x94" +
                   std::string(line.substr(f.place.byte + 2));
        default:
            return std::nullopt;
        }
    }

    // The events of the score with line j replaced by mended.
    std::vector<NoteEvent> MendedEvents(std::size_t j, std::string_view mended) const {
        std::vector<std::string_view> lines(lines_.begin(), lines_.end());
        lines[j] = mended;
        return TimedEvents(GatherLineSets(lines));
    }

    const std::vector<NoteEvent>& WrittenEvents() {
        if (!written_) written_ = TimedEvents(map_.texts);
        return *written_;
    }

    // Each finding about text that may be harmless is proven: converted with the text mended, the score
    // gives other events (an error, saying what moves) or the same (a warning, or nothing for a long line
    // above a pitch line, which only shifts timbre numbers that are not there). Past a bound the rest keep
    // the severity of their code, so that a score full of such text is still checked at once.
    void ProveSeverities() {
        const auto provable = [](const Finding& f) {
            switch (f.code) {
            case FindingCode::HalfWidthInPitchLine:
            case FindingCode::HalfWidthInDurationLine:
            case FindingCode::LongTimbreLine:
            case FindingCode::LongDurationLine:
            case FindingCode::CommentAfterPitch:
            case FindingCode::MusicSharp:
                return true;
            default:
                return false;
            }
        };
        if (std::none_of(findings_.begin(), findings_.end(), provable)) return;
        constexpr std::size_t MaxMends = 64;
        std::size_t mends = 0;
        std::vector<Finding> kept;
        kept.reserve(findings_.size());
        for (Finding& f : findings_) {
            const std::optional<std::string> mended = mends < MaxMends ? MendedLine(f) : std::nullopt;
            if (mended) {
                ++mends;
                const EventChange change = CompareEvents(
                    WrittenEvents(), MendedEvents(static_cast<std::size_t>(f.place.line - 1), *mended));
                if (change.Any()) {
                    f.severity = Severity::Error;
                    f.message += ChangeText(change);
                } else if (f.code == FindingCode::LongTimbreLine) {
                    continue;
                } else {
                    f.severity = Severity::Warning;
                    f.message += msg::SameEvents;
                }
            }
            kept.push_back(std::move(f));
        }
        findings_ = std::move(kept);
    }

    // Where bar lines are written, every measure of a group of line sets (sets not parted by a comment line)
    // should last as long as most of its measures; the first (a pickup) and the last may be shorter, and
    // the last may close with a long held note. A measure that overflows is reported at the note that first
    // passes the length (on the pitch line, where a note too many or too few is written), a short one at its
    // closing bar line.
    void CheckMeasures() {
        if (map_.bars.empty() || map_.events.empty()) return;
        std::size_t bar = 0;
        for (std::size_t s = 0; s < sets_.size();) {
            std::size_t end = s + 1; // the group's sets: s to end - 1
            while (end < sets_.size() && !CommentBetween(end))
                ++end;
            std::vector<std::size_t> cuts; // event indexes that begin a measure
            const auto firstEvent = static_cast<std::size_t>(
                std::lower_bound(map_.events.begin(), map_.events.end(), static_cast<std::int32_t>(s),
                                 [](const EventPlace& e, std::int32_t set) { return e.set < set; }) -
                map_.events.begin());
            const auto endEvent = static_cast<std::size_t>(
                std::lower_bound(map_.events.begin(), map_.events.end(), static_cast<std::int32_t>(end),
                                 [](const EventPlace& e, std::int32_t set) { return e.set < set; }) -
                map_.events.begin());
            std::vector<const BarPlace*> closing; // the bar line that closes measure i
            for (; bar < map_.bars.size() && static_cast<std::size_t>(map_.bars[bar].set) < end; ++bar) {
                const auto at = static_cast<std::size_t>(map_.bars[bar].eventsBefore);
                if (at <= firstEvent || at >= endEvent || (!cuts.empty() && cuts.back() == at)) continue;
                cuts.push_back(at);
                closing.push_back(&map_.bars[bar]);
            }
            if (cuts.size() >= 2) CheckGroupMeasures(firstEvent, endEvent, cuts, closing);
            s = end;
        }
    }

    // Whether a comment line stands between set s and the set before it.
    bool CommentBetween(std::size_t s) const {
        for (std::size_t j = Set(s - 1).pitchLine + 1; j < Set(s).pitchLine; ++j)
            if (map_.lines[j].kind == LineKindOf::Comment) return true;
        return false;
    }

    struct Measure {
        std::size_t from = 0; // its events: from to to - 1
        std::size_t to = 0;
        const BarPlace* bar = nullptr; // the bar line that closes it; none at the end of a line
    };

    void CheckGroupMeasures(std::size_t first, std::size_t end, const std::vector<std::size_t>& cuts,
                            const std::vector<const BarPlace*>& closing) {
        constexpr std::int32_t Slack = 4; // ticks a nested tuplet may lose
        std::vector<std::int64_t> starts; // the time of each event from the group's start, made when needed
        const auto lengthOf = [&](std::size_t from, std::size_t to) {
            return static_cast<std::int32_t>(
                std::min<std::int64_t>(starts[to - first] - starts[from - first], 1 << 30));
        };
        std::vector<Measure> measures;
        measures.reserve(cuts.size() + 1);
        measures.push_back({first, cuts.front(), closing.front()});
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
            measures.push_back({cuts[i], cuts[i + 1], closing[i + 1]});
        measures.push_back({cuts.back(), end, nullptr});
        std::vector<std::size_t> lineStarts; // the events that begin a line set, after the group's first
        lineStarts.reserve(static_cast<std::size_t>(map_.events[end - 1].set - map_.events[first].set));
        // Each found by galloping on from the one before: the sets lie close together.
        for (std::size_t k = first, set = static_cast<std::size_t>(map_.events[first].set) + 1;
             set <= static_cast<std::size_t>(map_.events[end - 1].set); ++set) {
            const auto before = [&](std::size_t e) {
                return static_cast<std::size_t>(map_.events[e].set) < set;
            };
            std::size_t low = k;
            std::size_t high = k;
            for (std::size_t step = 1; high < end && before(high); step *= 2) {
                low = high + 1;
                high = low + step;
            }
            high = std::min(high, end);
            while (low < high) {
                const std::size_t middle = low + (high - low) / 2;
                if (before(middle))
                    low = middle + 1;
                else
                    high = middle;
            }
            k = low;
            if (lineStarts.empty() || lineStarts.back() != k) lineStarts.push_back(k);
        }
        // The line starts inside each measure (after its first event), found in one walk: both are in order.
        std::vector<std::span<const std::size_t>> inside(measures.size());
        for (std::size_t i = 0, l = 0; i < measures.size(); ++i) {
            while (l < lineStarts.size() && lineStarts[l] <= measures[i].from)
                ++l;
            std::size_t e = l;
            while (e < lineStarts.size() && lineStarts[e] < measures[i].to)
                ++e;
            inside[i] = std::span<const std::size_t>(lineStarts.data() + l, e - l);
            l = e;
        }
        // The end of a line closes a measure without a bar line where the measure is full there.
        const auto splitWith = [&](std::int32_t length) {
            std::vector<Measure> split;
            for (std::size_t i = 0; i < measures.size(); ++i) {
                Measure m = measures[i];
                for (const std::size_t k : inside[i]) {
                    if (std::abs(lengthOf(m.from, m.to) - length) <= Slack) break;
                    const std::int32_t before = lengthOf(m.from, k);
                    if (std::abs(before - length) <= Slack || (split.empty() && before < length)) {
                        split.push_back({m.from, k, nullptr});
                        m.from = k;
                    }
                }
                split.push_back(m);
            }
            return split;
        };
        // The length is the one that most measures between the first and the last have, once the lines are
        // cut where such measures end; the longer on a tie. Tried: the length that more than half of those
        // measures have, and the one that more than half of their parts in one line have (where every line
        // closes a measure), found by majority votes without a list of lengths.
        struct Vote {
            std::int32_t candidate = 0;
            std::size_t votes = 0;
            std::size_t count = 0;
            std::size_t all = 0;
            void Cast(std::int32_t length) {
                if (votes == 0) candidate = length;
                votes += candidate == length ? 1 : std::size_t(-1);
            }
            void Count(std::int32_t length) {
                count += std::abs(length - candidate) <= Slack;
                ++all;
            }
            std::int32_t Winner() const { return 2 * count > all ? candidate : 0; }
        };
        Vote wholes;
        Vote parts;
        // The time of every event, then the lengths of the measures between the first and the last, and of
        // their parts, from those.
        starts.assign(end - first + 1, 0);
        for (std::size_t k = first; k < end; ++k)
            starts[k - first + 1] = starts[k - first] + map_.timed[k].ticks;
        {
            std::vector<std::int32_t> wholeLengths;
            std::vector<std::int32_t> partLengths;
            wholeLengths.reserve(measures.size());
            partLengths.reserve(measures.size() + lineStarts.size());
            for (std::size_t i = 1; i + 1 < measures.size(); ++i) {
                const Measure& m = measures[i];
                std::size_t from = m.from;
                for (const std::size_t cut : inside[i]) {
                    partLengths.push_back(lengthOf(from, cut));
                    from = cut;
                }
                partLengths.push_back(lengthOf(from, m.to));
                wholeLengths.push_back(lengthOf(m.from, m.to));
            }
            for (const std::int32_t l : wholeLengths)
                wholes.Cast(l);
            for (const std::int32_t l : partLengths)
                parts.Cast(l);
            for (const std::int32_t l : wholeLengths)
                wholes.Count(l);
            for (const std::int32_t l : partLengths)
                parts.Count(l);
        }
        if (wholes.Winner() <= 0 && parts.Winner() <= 0) return;
        std::int32_t length = 0;
        std::size_t most = 0;
        std::size_t inner = 0;
        std::vector<Measure> split;
        for (const std::int32_t candidate : {wholes.Winner(), parts.Winner()}) {
            if (candidate <= 0 || (candidate == parts.Winner() && candidate == wholes.Winner() && most > 0))
                continue; // the same length twice: split once
            std::vector<Measure> tried = splitWith(candidate);
            std::size_t count = 0;
            for (std::size_t i = 1; i + 1 < tried.size(); ++i)
                count += std::abs(lengthOf(tried[i].from, tried[i].to) - candidate) <= Slack;
            if (count > most || (count == most && candidate > length)) {
                std::tie(length, most, inner) = std::tuple{candidate, count, tried.size() - 2};
                split = std::move(tried);
            }
        }
        if (length <= 0 || most < 2 || 2 * most <= inner) return;
        const auto check = [&](const Measure& m, bool mayBeShort) {
            std::int32_t ticks = 0;
            for (std::size_t k = m.from; k < m.to; ++k) {
                ticks += map_.timed[k].ticks;
                if (ticks <= length + Slack) continue;
                const EventPlace& e = map_.events[k];
                return Add(FindingCode::MeasureLength, e.pitch,
                           MeasureLengthMessage(length, lengthOf(m.from, m.to)));
            }
            if (!mayBeShort && ticks < length - Slack && m.bar != nullptr)
                Add(FindingCode::MeasureLength, m.bar->at, MeasureLengthMessage(length, ticks));
        };
        for (std::size_t i = 0; i + 1 < split.size(); ++i)
            check(split[i], i == 0);
        // The last measure may be shorter, or end in a note held well past the measure (at least twice
        // its length); a little longer is a unit too many.
        if (lengthOf(split.back().from, split.back().to) < 2 * length) check(split.back(), true);
        CheckTupletBeats(first, end, split, length, starts);
    }

    // A tuplet group begins on a beat, or on a multiple of its own length when that is shorter: one that
    // does not has its marker off the middle note. The pickup counts from where its measure would begin.
    // starts: the time of each event from the group's start.
    void CheckTupletBeats(std::size_t first, std::size_t end, const std::vector<Measure>& measures,
                          std::int32_t length, const std::vector<std::int64_t>& starts) {
        constexpr std::int64_t Slack = 4;
        const std::int64_t pickup = length - (starts[measures.front().to - first]);
        for (const TupletGroup& group : map_.tuplets) {
            const auto k0 = static_cast<std::size_t>(group.first - 1);
            if (!group.Whole() || k0 < first || static_cast<std::size_t>(group.last) > end) continue;
            const auto measure = std::partition_point(measures.begin(), measures.end(),
                                                      [&](const Measure& m) { return m.to <= k0; });
            if (measure == measures.end()) continue;
            const std::int64_t offset = measure == measures.begin()
                                            ? pickup + starts[k0 - first]
                                            : starts[k0 - first] - starts[measure->from - first];
            const std::int64_t span =
                starts[static_cast<std::size_t>(group.last) - first] - starts[k0 - first];
            const std::int64_t beat = std::min<std::int64_t>(span, 120);
            if (beat <= 2 * Slack) continue;
            const std::int64_t off = ((offset % beat) + beat) % beat;
            if (off <= Slack || beat - off <= Slack) continue;
            const EventPlace& e = map_.events[static_cast<std::size_t>(group.k - 1)];
            if (!e.duration.IsNone()) Add(FindingCode::TupletOffBeat, e.duration, msg::TupletOffBeat);
        }
    }

    // Whether the notes of a whole group are written with the duration of its base, as the pass times them.
    bool WrittenAsBase(const TupletGroup& group) const {
        const std::int32_t base = map_.read[static_cast<std::size_t>(group.k - 2)].ticks;
        for (std::int32_t k = group.first; k <= group.last; ++k) {
            const std::int32_t written = map_.read[static_cast<std::size_t>(k - 1)].ticks;
            if (k != group.k && written != base && !IsTupletMarker(written)) return false;
        }
        return true;
    }

    // What the conversion cannot take at all: too many notes, and bytes past a line's limit. And lines the
    // reader passes over although they hold notes.
    void CheckLimits() {
        if (map_.read.size() > NoteEventCapacity)
            Add(FindingCode::TooManyNotes, map_.events[NoteEventCapacity].pitch,
                TooManyNotesMessage(map_.read.size()));
        for (std::size_t j = 0; j < lines_.size(); ++j) {
            if (map_.lines[j].Role() == LineRole::Other && !CheckLeadingCharacters(j)) CheckUnreadLine(j);
            if (lines_[j].size() <= MaxLineBytes || map_.lines[j].kind == LineKindOf::Comment) continue;
            const std::size_t end = TrimLine(lines_[j]).size();
            if (end > MaxLineBytes)
                Add(FindingCode::LineTooLong, j, MaxLineBytes, end - MaxLineBytes, msg::LineTooLong);
        }
    }

    // A line above a duration line that would be a pitch line but for one-byte characters before its first
    // pitch-line symbol, which put that symbol and all after it across two units: the whole line is not
    // read. Proven like the other findings: without those characters the score has more notes. A "//"
    // among them makes the line a comment, as it was most likely meant.
    bool CheckLeadingCharacters(std::size_t j) {
        const std::string_view line = Seen(j);
        bool ascii = false;
        bool wide = false;
        for (const char byte : line)
            (static_cast<unsigned char>(byte) < 0x80 ? ascii : wide) = true;
        if (!ascii || !wide || j + 1 >= lines_.size() || !HasMarkedDurations(Seen(j + 1))) return false;
        std::size_t firstSingle = None;
        std::string mended;
        for (std::size_t b = 0; b < line.size();) {
            if (!IsDoubleByteAt(line, b)) {
                if (line[b] == '/' && b + 1 < line.size() && line[b + 1] == '/') return false;
                if (firstSingle == None) firstSingle = b;
                ++b;
                continue;
            }
            if (IsPitchLineSymbol(UnitOfLine(line, b))) {
                if (firstSingle == None || b % 2 == 0) return false;
                mended += line.substr(b);
                const std::vector<NoteEvent> events = MendedEvents(j, mended);
                const std::size_t written = WrittenEvents().size();
                if (events.size() <= written) return false;
                Add(FindingCode::LeadingCharacters, j, firstSingle, 1,
                    LeadingCharactersMessage(events.size() - written));
                return true;
            }
            mended += line.substr(b, 2);
            b += 2;
        }
        return false;
    }

    // ○ and ヰ make notes but no pitch line: a line of them alone is not read.
    void CheckUnreadLine(std::size_t j) {
        const std::string_view line = Seen(j);
        const std::array<std::uint8_t, 65536>& facts = Facts();
        for (std::size_t b = 0; b + 1 < line.size(); b += IsDoubleByteAt(line, b) ? 2 : 1)
            if (IsDoubleByteAt(line, b) && (facts[UnitOfLine(line, b)] & NoteSymbol))
                return Add(FindingCode::NotAPitchLine, j, b, 2, msg::NotAPitchLine);
    }

    // Line and column of every finding, in the order the score shows them. The columns of one line are
    // counted once, up to its last finding.
    void PlaceFindings() {
        // Sorted by their keys, each finding then moved once into its place.
        std::vector<std::tuple<std::int32_t, std::uint32_t, std::uint32_t>> order;
        order.reserve(findings_.size());
        for (std::size_t f = 0; f < findings_.size(); ++f)
            order.emplace_back(findings_[f].place.line, findings_[f].place.byte,
                               static_cast<std::uint32_t>(f));
        std::sort(order.begin(), order.end());
        std::vector<Finding> sorted;
        sorted.reserve(findings_.size());
        for (const auto& [line, byte, f] : order)
            sorted.push_back(std::move(findings_[f]));
        findings_ = std::move(sorted);

        std::string_view line;
        std::int32_t lineNumber = 0;
        std::size_t walked = 0;        // the first byte of the character the walk stands on
        std::int32_t walkedColumn = 1; // its column
        const auto columnOf = [&](std::size_t byte) {
            std::size_t b = walked;
            std::int32_t column = walkedColumn;
            while (b < line.size()) {
                const std::size_t next = b + (IsDoubleByteAt(line, b) ? 2 : 1);
                if (byte < next) return std::pair{column, b};
                b = next;
                ++column;
            }
            return std::pair{column + static_cast<std::int32_t>(byte - b), b};
        };
        for (Finding& f : findings_) {
            if (f.place.line != lineNumber) {
                lineNumber = f.place.line;
                line = lines_[static_cast<std::size_t>(lineNumber - 1)];
                walked = 0;
                walkedColumn = 1;
            }
            const auto [first, at] = columnOf(f.place.byte);
            if (at < line.size()) {
                walked = at;
                walkedColumn = first;
            }
            const std::int32_t last = columnOf(f.place.byte + f.place.bytes - 1).first;
            f.span = SourceSpan{f.place.line, first, last - first + 1};
        }
    }

    std::span<const std::string_view> lines_;
    const ScoreMap& map_;
    std::vector<std::uint8_t> flags_;
    std::vector<SetFacts> sets_;
    std::vector<Entry> entries_;
    std::vector<Finding> findings_;
    std::optional<std::vector<NoteEvent>>
        written_; // the events as written, made once when a finding is proven
    std::optional<std::pair<std::size_t, std::int32_t>> measure_; // the first set of a group, its measure
    std::size_t shiftBudget_ = 64; // line sets whose shifted unit may still be placed by the beat
};

} // namespace

std::string_view CodeName(FindingCode code) {
    return Codes[static_cast<std::size_t>(code)].name;
}

Severity SeverityOf(FindingCode code) {
    return Codes[static_cast<std::size_t>(code)].severity;
}

std::string_view SeverityName(Severity severity) {
    return severity == Severity::Error ? "error" : "warning";
}

std::vector<Finding> CheckScore(std::span<const std::string_view> lines, const ScoreMap& map) {
    return Checker(lines, map).Findings();
}

std::vector<Finding> CheckScore(std::span<const std::string_view> lines) {
    return CheckScore(lines, MapScore(lines));
}

Finding UnmappableCharacterFinding(const SourcePlace& place, const SourceSpan& span) {
    Finding f;
    f.code = FindingCode::NotInCodePage932;
    f.severity = SeverityOf(f.code);
    f.place = place;
    f.span = span;
    f.message = std::string(msg::NotInCodePage932);
    return f;
}

} // namespace nagisora
