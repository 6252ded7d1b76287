// The windows' status lines: a session's or a service's sentence as a line
// shows it (spaces tidied, the first letter capitalised).
#pragma once

#include <QString>
#include <string>

namespace velmar {

inline QString Sentence(const std::string& Text) {
  QString Line = QString::fromStdString(Text).simplified();
  if (!Line.isEmpty()) Line[0] = Line[0].toUpper();
  return Line;
}

}  // namespace velmar
