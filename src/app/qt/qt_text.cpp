#include "app/qt/qt_text.h"

#include <QFile>

namespace kelpie {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
  return FromBytes(text.toUtf8());
}

QString PathToQString(std::string_view path) {
  return QFile::decodeName(ToBytes(path));
}

std::string PathFromQString(const QString& path) {
  return FromBytes(QFile::encodeName(path));
}

QString LogDisplayText(std::string_view text) {
  // The logic cuts the log at a character count, so the text may start with
  // a lone "\n" or end inside a line; neither needs more than dropping '\r'.
  std::string plain;
  plain.reserve(text.size());
  for (char c : text) {
    if (c != '\r') plain.push_back(c);
  }
  return ToQString(plain);
}

}  // namespace kelpie
