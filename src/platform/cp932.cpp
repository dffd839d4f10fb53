#include "platform/cp932.h"

#include "core/failure.h"

#include <cerrno>
#include <iconv.h>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

namespace nagisora {
namespace {

constexpr const char* Cp932Name = "CP932";
constexpr const char* Utf8Name = "UTF-8";

struct ConversionResult {
    std::string output;
    int error = 0; // 0, or iconv's errno: EILSEQ for an invalid sequence, EINVAL for one cut off at the end
};

// An open iconv conversion, closed with its owner.
class IconvDescriptor {
  public:
    IconvDescriptor(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == InvalidHandle()) {
            const int error = errno;
            throw Failure::System(error,
                                  std::string("文字コードの変換 (") + from + " → " + to + ") を使えません");
        }
    }
    ~IconvDescriptor() { iconv_close(handle_); }
    IconvDescriptor(const IconvDescriptor&) = delete;
    IconvDescriptor& operator=(const IconvDescriptor&) = delete;

    // Converts the whole input, a character or a few; the output is valid only when error is 0.
    ConversionResult Convert(std::string_view input) const {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        ConversionResult result;
        result.output.resize(input.size() * 4 + 8); // the largest growth is one byte to three
        char* in = const_cast<char*>(input.data()); // iconv takes char** but does not write through it
        std::size_t inLeft = input.size();
        char* out = result.output.data();
        std::size_t outLeft = result.output.size();
        if (iconv(handle_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1))
            result.error = errno;
        result.output.resize(result.output.size() - outLeft);
        return result;
    }

  private:
    static iconv_t InvalidHandle() { return reinterpret_cast<iconv_t>(-1); }

    iconv_t handle_;
};

struct Cp932Codec {
    IconvDescriptor toUtf8{Utf8Name, Cp932Name};
    IconvDescriptor fromUtf8{Cp932Name, Utf8Name};
};

// One pair of descriptors per thread, opened at first use: a descriptor keeps state and may not be shared.
const Cp932Codec& Codec() {
    thread_local const Cp932Codec codec;
    return codec;
}

// --- UTF-8 ---

struct Utf8Char {
    char32_t codePoint = 0;
    std::size_t length = 1; // bytes taken; an invalid byte is taken alone
    bool valid = false;
};

struct Utf8Lead {
    std::size_t length;
    char32_t bits;
    unsigned char lowestSecond;  // the bounds of the second byte rule out overlong forms, surrogates and
    unsigned char highestSecond; // code points above U+10FFFF
};

std::optional<Utf8Lead> ClassifyUtf8Lead(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return Utf8Lead{2, lead & 0x1Fu, 0x80, 0xBF};
    if (lead == 0xE0) return Utf8Lead{3, 0, 0xA0, 0xBF};
    if (lead == 0xED) return Utf8Lead{3, 0x0D, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return Utf8Lead{3, lead & 0x0Fu, 0x80, 0xBF};
    if (lead == 0xF0) return Utf8Lead{4, 0, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return Utf8Lead{4, lead & 0x07u, 0x80, 0xBF};
    if (lead == 0xF4) return Utf8Lead{4, 4, 0x80, 0x8F};
    return std::nullopt;
}

Utf8Char NextUtf8Char(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return {lead, 1, true};
    const std::optional<Utf8Lead> form = ClassifyUtf8Lead(lead);
    if (!form || text.size() - pos < form->length) return {};
    char32_t codePoint = form->bits;
    for (std::size_t i = 1; i < form->length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        const unsigned char lowest = i == 1 ? form->lowestSecond : 0x80;
        const unsigned char highest = i == 1 ? form->highestSecond : 0xBF;
        if (byte < lowest || byte > highest) return {};
        codePoint = (codePoint << 6) | (byte & 0x3Fu);
    }
    return {codePoint, form->length, true};
}

bool IsRawByte(char32_t codePoint) {
    return codePoint >= RawByteBase && codePoint <= RawByteBase + 0xFF;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void AppendRawBytes(std::string& text, std::string_view bytes) {
    for (const char byte : bytes)
        AppendUtf8(text, RawByteBase + static_cast<unsigned char>(byte));
}

// --- Other forms of a character ---

bool IsFormSelector(char32_t codePoint) {
    return codePoint == FirstFormSelector || codePoint == SecondFormSelector;
}

std::uint16_t PairCode(std::string_view pair) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(pair[0]) << 8) |
                                      static_cast<unsigned char>(pair[1]));
}

// The byte pairs that decode to a character which encodes back to other bytes, with the selector that marks
// each. Found once, at first need, by decoding every pair through iconv and encoding the character back
// (a few milliseconds), so the table is exactly what the C library's code page 932 holds.
class OtherForms {
  public:
    OtherForms() {
        const IconvDescriptor toUtf8{Utf8Name, Cp932Name};
        const IconvDescriptor fromUtf8{Cp932Name, Utf8Name};
        std::map<char32_t, int> formsSoFar;
        for (int lead = 0x81; lead <= 0xFC; ++lead)
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
                const ConversionResult decoded = toUtf8.Convert(pair);
                if (decoded.error != 0 || decoded.output.empty()) continue;
                const Utf8Char c = NextUtf8Char(decoded.output, 0);
                if (!c.valid || c.length != decoded.output.size()) continue;
                const ConversionResult back = fromUtf8.Convert(decoded.output);
                if (back.error != 0 || back.output == pair) continue;
                const int index = formsSoFar[c.codePoint]++; // pairs come in byte order
                if (index > 1) continue;                     // no third form exists; it would stay raw bytes
                const char32_t selector = index == 0 ? FirstFormSelector : SecondFormSelector;
                std::string shown = decoded.output;
                AppendUtf8(shown, selector);
                shownByPair_.emplace(PairCode(pair), std::move(shown));
                pairByForm_.emplace(std::pair{c.codePoint, selector}, pair);
            }
    }

    // The character and selector that stand for a pair; none when the pair is no other form.
    const std::string* Shown(std::string_view pair) const {
        const auto found = shownByPair_.find(PairCode(pair));
        return found == shownByPair_.end() ? nullptr : &found->second;
    }

    // The bytes of a character's form marked by a selector; none when it has no such form.
    const std::string* Bytes(char32_t character, char32_t selector) const {
        const auto found = pairByForm_.find(std::pair{character, selector});
        return found == pairByForm_.end() ? nullptr : &found->second;
    }

  private:
    std::unordered_map<std::uint16_t, std::string> shownByPair_;
    std::map<std::pair<char32_t, char32_t>, std::string> pairByForm_;
};

const OtherForms& Forms() {
    static const OtherForms forms;
    return forms;
}

// --- Encoding ---

// The code page 932 bytes of one UTF-8 character, none when it has none.
std::optional<std::string> EncodeChar(const Utf8Char& c, std::string_view sequence, WindowMarks marks) {
    if (!c.valid) return std::nullopt;
    if (c.codePoint < 0x80) return std::string(1, static_cast<char>(c.codePoint));
    if (IsRawByte(c.codePoint)) {
        if (marks == WindowMarks::AsText) return std::nullopt;
        return std::string(1, static_cast<char>(c.codePoint - RawByteBase));
    }
    ConversionResult encoded = Codec().fromUtf8.Convert(sequence);
    if (encoded.error != 0) return std::nullopt;
    return std::move(encoded.output);
}

// The bytes of the other form that a character at pos and the selector after it stand for; none when no
// form selector follows or the character has no such form.
const std::string* OtherFormAt(std::string_view utf8, std::size_t pos, const Utf8Char& c) {
    if (!c.valid || pos + c.length >= utf8.size()) return nullptr;
    const Utf8Char next = NextUtf8Char(utf8, pos + c.length);
    if (!next.valid || !IsFormSelector(next.codePoint)) return nullptr;
    return Forms().Bytes(c.codePoint, next.codePoint);
}

// Follows line and column through a text, one character at a time.
class PositionCounter {
  public:
    CharPosition Current() const { return position_; }

    void Pass(char32_t c) {
        const bool lineEndContinues = c == '\n' && afterCarriageReturn_;
        afterCarriageReturn_ = c == '\r';
        if (lineEndContinues) return;
        if (c == '\r' || c == '\n')
            position_ = {position_.line + 1, 1};
        else
            ++position_.column;
    }

  private:
    CharPosition position_{1, 1};
    bool afterCarriageReturn_ = false;
};

// --- Decoding ---

bool IsTrailByte(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return (value >= 0x40 && value <= 0x7E) || (value >= 0x80 && value <= 0xFC);
}

bool EncodesBackTo(std::string_view utf8, std::string_view bytes) {
    const Cp932Text encoded = EncodeCp932(utf8, {WindowMarks::Restore, 0, false});
    return encoded.unmappableCount == 0 && encoded.bytes == bytes;
}

// The UTF-8 of a unit of one or two bytes, when it is a character that encodes back to the same bytes.
std::optional<std::string> DecodeExactly(const ConversionResult& decoded, std::string_view unit) {
    if (decoded.error != 0 || !EncodesBackTo(decoded.output, unit)) return std::nullopt;
    return decoded.output;
}

// Decodes the character at the start of bytes (not empty) onto text; returns how many bytes it took.
std::size_t AppendDecodedUnit(std::string& text, std::string_view bytes) {
    if (static_cast<unsigned char>(bytes[0]) < 0x80) {
        text += bytes[0];
        return 1;
    }
    const std::string_view single = bytes.substr(0, 1);
    const ConversionResult singleDecoded = Codec().toUtf8.Convert(single);
    if (const std::optional<std::string> c = DecodeExactly(singleDecoded, single)) {
        text += *c;
        return 1;
    }
    const bool leadByte = singleDecoded.error == EINVAL;
    if (!leadByte || bytes.size() < 2) {
        AppendRawBytes(text, single);
        return 1;
    }
    const std::string_view pair = bytes.substr(0, 2);
    const ConversionResult pairDecoded = Codec().toUtf8.Convert(pair);
    if (const std::optional<std::string> c = DecodeExactly(pairDecoded, pair)) {
        text += *c;
        return 2;
    }
    if (const std::string* other = pairDecoded.error == 0 ? Forms().Shown(pair) : nullptr) {
        text += *other;
        return 2;
    }
    // A pair that is no character is kept whole; a lead byte before a byte that cannot end a
    // pair (a line end, say) is kept alone, so that the next byte is read on its own.
    const std::size_t rawLength = IsTrailByte(bytes[1]) ? 2 : 1;
    AppendRawBytes(text, bytes.substr(0, rawLength));
    return rawLength;
}

} // namespace

Cp932Text EncodeCp932(std::string_view utf8, const Cp932Encoding& encoding) {
    Cp932Text result;
    result.bytes.reserve(utf8.size());
    PositionCounter counter;
    for (std::size_t pos = 0; pos < utf8.size();) {
        if (encoding.charStarts) result.charStarts.push_back(static_cast<std::uint32_t>(result.bytes.size()));
        const Utf8Char c = NextUtf8Char(utf8, pos);
        if (const std::string* form =
                encoding.marks == WindowMarks::Restore ? OtherFormAt(utf8, pos, c) : nullptr) {
            const std::size_t selectorLength = NextUtf8Char(utf8, pos + c.length).length;
            result.bytes += *form;
            if (encoding.charStarts)
                result.charStarts.push_back(static_cast<std::uint32_t>(result.bytes.size()));
            counter.Pass(c.codePoint);
            pos += c.length + selectorLength;
            continue;
        }
        if (const std::optional<std::string> encoded =
                EncodeChar(c, utf8.substr(pos, c.length), encoding.marks)) {
            result.bytes += *encoded;
        } else {
            result.bytes += UnmappableByte;
            if (result.unmappable.size() < encoding.keptPositions)
                result.unmappable.push_back(counter.Current());
            ++result.unmappableCount;
        }
        counter.Pass(c.valid ? c.codePoint : UnmappableByte);
        pos += c.length;
    }
    if (encoding.charStarts) result.charStarts.push_back(static_cast<std::uint32_t>(result.bytes.size()));
    return result;
}

std::string DecodeCp932(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 3 / 2);
    for (std::size_t pos = 0; pos < bytes.size();)
        pos += AppendDecodedUnit(text, bytes.substr(pos));
    return text;
}

bool LooksLikeUtf8(std::string_view bytes) {
    if (bytes.starts_with(Utf8ByteOrderMark)) return true;
    bool multiByte = false;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const Utf8Char c = NextUtf8Char(bytes, pos);
        if (!c.valid) return false;
        multiByte = multiByte || c.length > 1;
        pos += c.length;
    }
    return multiByte;
}

} // namespace nagisora
