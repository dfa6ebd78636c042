#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace kelpie {

// Texts cross between the logic (bytes, UTF-8 where they are words) and Qt
// (UTF-16). File paths go through the file system's own encoding instead.
QString ToQString(std::string_view text);
std::string FromQString(const QString& text);
QString PathToQString(std::string_view path);
std::string PathFromQString(const QString& path);

inline QByteArray ToBytes(std::string_view text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string FromBytes(const QByteArray& bytes) {
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The log keeps "\r\n" between lines; the text box wants "\n" alone.
QString LogDisplayText(std::string_view text);

}  // namespace kelpie
