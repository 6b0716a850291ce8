#include "common/gbk.h"

#include <cerrno>

#include <iconv.h>

namespace kuvona {
namespace {

std::string convert(std::string_view in, const char* to, const char* from, std::string_view replacement)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[1024];
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // EILSEQ or EINVAL (truncated input): skip one byte and mark it.
            out.append(replacement);
            ++src;
            --srcLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string gbk(std::string_view utf8)
{
    return convert(utf8, "GBK", "UTF-8", "?");
}

std::string utf8FromGbk(std::string_view gbkText)
{
    return convert(gbkText, "UTF-8", "GBK", "\xEF\xBF\xBD");
}

} // namespace kuvona
