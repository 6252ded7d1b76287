// The two small controls of the program's own dialogs. TVLButton: a picture
// that acts as a push button (it moves one pixel right and down while pressed;
// a release over it clicks). TVLEdit: a plain edit field; with UpperCase on it
// shows and accepts capitals only.
//
// Owned by their dialog (Qt parent). Main thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <functional>

#include "platform/component.h"

namespace velmar {

class TVLButton : public QLabel, public TObject {
 public:
  explicit TVLButton(QWidget* Parent = nullptr);
  // The picture; the button takes its size.
  void SetPicture(const QImage& Picture);

  TNotifyEvent OnClick;

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  bool FDown = false;
};

// Capitals as the track names want them: ASCII a-z and the Latin-1 letters
// a-ring, a-diaeresis and o-diaeresis; every other character stays.
QString UpperCaseName(const QString& Text);

class TVLEdit : public QLineEdit {
 public:
  explicit TVLEdit(QWidget* Parent = nullptr);
  bool UpperCase() const { return FUpperCase; }
  void SetUpperCase(bool Value);

  // Entering the field (focus in).
  std::function<void()> OnEnter;

 protected:
  void focusInEvent(QFocusEvent* Event) override;

 private:
  bool FUpperCase = false;
};

}  // namespace velmar
