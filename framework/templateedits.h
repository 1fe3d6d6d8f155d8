#pragma once
// The edit controls that dialog templates ask for. Used by framework sources only.
#include <QLineEdit>
#include <QPlainTextEdit>

class QKeyEvent;

namespace detail {

// A multi-line edit of a template. Without the want-return style Enter belongs
// to the dialog and presses its default button; Ctrl+Enter still breaks the line.
class TemplateTextEdit : public QPlainTextEdit {
  public:
    TemplateTextEdit(QWidget* parent, bool wantReturn);

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    bool wantReturn_;
};

// An edit with the number style: typed digits only (see NumberValidator).
class TemplateNumberEdit : public QLineEdit {
  public:
    explicit TemplateNumberEdit(QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* e) override;
};

}  // namespace detail
