#pragma once
// Up-down arrows that step a number shown in a buddy edit, and its wrapper.
#include <QLocale>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "framework/cwnd.h"

class QToolButton;

// The widget keeps range, position and buddy itself, so a control made from a
// dialog template works before (and without) a wrapper being attached to it.
class UpDownArrowsWidget : public QWidget {
    Q_OBJECT
  public:
    // style: ctlstyle::Uds* bits. With UdsAutoBuddy and a parent, the widget created
    // just before this one under the same parent becomes the buddy.
    explicit UpDownArrowsWidget(QWidget* parent = nullptr, uint32_t style = 0);

    uint32_t style() const { return m_style; }
    // "Up" moves towards upper; lower may be above upper, as on Windows.
    void setRange(int lower, int upper);
    int lower() const { return m_lower; }
    int upper() const { return m_upper; }
    // Clamps into the range, shows the value in the buddy; returns the previous position.
    int setPos(int pos);
    // Takes the buddy's number when it is valid. Returns the last valid position;
    // error is set when the buddy text is not a number inside the range.
    int pos(bool* error = nullptr);
    // One arrow step (+1 = up arrow), starting from the buddy's number when it is valid.
    void step(int direction);

    QWidget* setBuddy(QWidget* buddy);  // returns the previous buddy
    QWidget* buddy();
    void setLocale(const QLocale& locale) { m_locale = locale; }
    const QLocale& locale() const { return m_locale; }

    QString formatValue(int value) const;
    std::optional<int> parseValue(const QString& text) const;  // any integer, range not checked

    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

  signals:
    void posChanged(int pos);  // after an arrow or arrow-key step moved the position

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    int low() const { return std::min(m_lower, m_upper); }
    int high() const { return std::max(m_lower, m_upper); }
    void findAutoBuddy();
    void alignToBuddy();
    QString buddyText() const;
    void writeBuddy();

    uint32_t m_style;
    int m_lower = 100;  // Windows' initial range runs from 100 down to 0
    int m_upper = 0;
    int m_pos = 0;
    QPointer<QWidget> m_buddy;
    bool m_buddySearched = false;
    bool m_aligned = false;
    QLocale m_locale = QLocale::system();
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};

class CSpinButtonCtrl : public CWnd {
    Q_OBJECT
  public:
    void SetRange(int lower, int upper);
    void SetRange32(int lower, int upper) { SetRange(lower, upper); }
    void GetRange(int& lower, int& upper) const;
    void GetRange32(int& lower, int& upper) const { GetRange(lower, upper); }
    int SetPos(int pos);  // returns the previous position
    // As UDM_GETPOS: the low word holds the position, the high word is nonzero when
    // the buddy text is not a number inside the range (the low word is then the last
    // valid position).
    int GetPos() const;
    int GetPos32(bool* error = nullptr) const;
    QWidget* SetBuddy(QWidget* buddy);
    QWidget* SetBuddy(CWnd* buddy) { return SetBuddy(buddy ? buddy->GetSafeHwnd() : nullptr); }
    QWidget* GetBuddy() const;
    void SetLocale(const QLocale& locale);  // the locale whose digit grouping is used
    UpDownArrowsWidget* widget() const { return qobject_cast<UpDownArrowsWidget*>(m_hWnd.data()); }
};
