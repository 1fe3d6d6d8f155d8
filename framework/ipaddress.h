#pragma once
// IPv4 address entry: four 0-255 fields with dots between them, and its wrapper.
#include <QFrame>
#include <array>
#include <cstdint>

#include "framework/cwnd.h"

class QLineEdit;

// The widget itself keeps the behaviour, so a control made from a dialog template
// works before (and without) a wrapper being attached to it.
class Ip4FieldsWidget : public QFrame {
    Q_OBJECT
  public:
    explicit Ip4FieldsWidget(QWidget* parent = nullptr);

    void setAddress(uint32_t address);  // first field in the top byte
    // Writes the address (blank fields as 0); returns how many fields are not blank.
    int address(uint32_t& out) const;
    void clear();
    bool isBlank() const;
    QLineEdit* field(int index) const { return m_fields.at(static_cast<size_t>(index)); }
    // Value of one field, -1 when it is blank.
    int fieldValue(int index) const;

  signals:
    // A field was left after its text changed, or its value was clamped to 255.
    // value is -1 for a blank field.
    void fieldChanged(int field, int value);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onEdited(int index);
    void focusField(int index, bool selectAll);
    void leaveField(int index);

    std::array<QLineEdit*, 4> m_fields{};
    std::array<bool, 4> m_dirty{};
};

class CIPAddressCtrl : public CWnd {
    Q_OBJECT
  public:
    void SetAddress(uint32_t address);
    void SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3);
    int GetAddress(uint32_t& address) const;
    int GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const;
    void ClearAddress();
    bool IsBlank() const;
    Ip4FieldsWidget* widget() const { return qobject_cast<Ip4FieldsWidget*>(m_hWnd.data()); }

  signals:
    void fieldChanged(int field, int value);

  protected:
    void PreSubclassWindow() override;
};
