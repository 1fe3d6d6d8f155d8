#pragma once
// A template window that may grow beyond its template: each control found by
// the place the template gave it, then set again at every resize from its
// template rectangle, moved or grown by what the window says for the room
// added.
#include <QPointer>
#include <QRect>
#include <QSize>
#include <functional>
#include <utility>
#include <vector>

#include "framework/dialog.h"

class GrowingTemplate {
  public:
    // Where control `id` goes: its template rectangle `r`, given the width
    // `dw` and height `dh` added to the template size (never negative).
    using Place = std::function<void(int id, QRect& r, int dw, int dh)>;

    // After the dialog's own OnInitDialog: takes its controls and lets the
    // window grow from its template size (maximise button included).
    void Take(CDialog& dialog, Place place);
    // At each resize of the window.
    void Arrange() const;

  private:
    CDialog* dialog_ = nullptr;
    Place place_;
    QSize templateSize_;
    DialogUnits units_;
    std::vector<std::pair<QPointer<QWidget>, const ControlTemplate*>> placed_;
};
