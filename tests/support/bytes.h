#pragma once

// Byte strings in tests: the program's texts are GBK bytes in std::string, QTest tables hold
// QByteArray, and rows are written readably in UTF-8.

#include <QByteArray>
#include <fstream>
#include <sstream>
#include <string>

#include "common/gbk.h"

namespace kuvona::test {

inline QByteArray q(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string s(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The GBK bytes of a UTF-8 literal.
inline QByteArray g(const char* utf8)
{
    return q(gbk(utf8));
}

inline QByteArray readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return q(content.str());
}

inline void writeFile(const std::string& path, const QByteArray& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.constData(), content.size());
}

} // namespace kuvona::test
