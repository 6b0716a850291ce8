#include "platform/ui_text.h"

#include "common/gbk.h"

namespace kuvona {
namespace {

// A byte that is not part of a GBK character is kept in the QString as a lone low surrogate
// U+DC80..U+DCFF and turned back into the same byte on the way out. A stored text cut inside a
// double-byte character (a full field) thus comes back byte for byte when a command writes the
// texts of the list back into the store.
constexpr char16_t kEscapeBase = 0xDC00;

bool isTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// The length of the well-formed unit at `i`: 1 for ASCII, 2 for a lead and a trail byte, 0 for a
// byte that starts no character.
std::size_t unitLength(const std::string& text, std::size_t i)
{
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80)
        return 1;
    if (b >= 0x81 && b <= 0xFE && i + 1 < text.size() && isTrailByte(static_cast<unsigned char>(text[i + 1])))
        return 2;
    return 0;
}

void appendEscaped(QString& out, std::string_view bytes)
{
    for (char c : bytes)
        out += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(c)));
}

bool decodesWhole(const QString& decoded)
{
    return !decoded.contains(QChar(0xFFFD));
}

} // namespace

QString toQString(const std::string& gbkText)
{
    QString out;
    out.reserve(static_cast<qsizetype>(gbkText.size()));
    std::size_t i = 0;
    while (i < gbkText.size()) {
        // The usual case: a run of well-formed units that GBK assigns, decoded in one piece.
        std::size_t end = i;
        for (std::size_t n; end < gbkText.size() && (n = unitLength(gbkText, end)) != 0;)
            end += n;
        if (end > i) {
            const QString decoded =
                QString::fromStdString(utf8FromGbk(std::string_view(gbkText).substr(i, end - i)));
            if (decodesWhole(decoded)) {
                out += decoded;
                i = end;
                continue;
            }
        }
        // Otherwise unit by unit up to the end of the run: a unit that does not decode gives up its
        // first byte only, since the second may begin the next character (or be ASCII).
        do {
            const std::size_t n = unitLength(gbkText, i);
            const QString one =
                n ? QString::fromStdString(utf8FromGbk(std::string_view(gbkText).substr(i, n))) : QString();
            if (n && decodesWhole(one)) {
                out += one;
                i += n;
            } else {
                appendEscaped(out, std::string_view(gbkText).substr(i, 1));
                ++i;
            }
        } while (i < end);
    }
    return out;
}

std::string fromQString(const QString& text)
{
    std::string out;
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            out += gbk(text.mid(runStart, end - runStart).toStdString());
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i; // a character beyond the BMP, not an escape
            continue;
        }
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            flush(i);
            out += static_cast<char>(c - kEscapeBase);
            runStart = i + 1;
        }
    }
    flush(text.size());
    return out;
}

} // namespace kuvona
